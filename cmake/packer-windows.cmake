# The Windows packer, quillbox-pack.exe: the x86_64 MinGW-w64 setup with the
# posix thread model, whose libstdc++ has std::thread and std::jthread (on
# winpthreads, linked statically); the win32 model of GCC 12 has neither.
# Use with: cmake --toolchain cmake/packer-windows.cmake -DQUILLBOX_WINDOWS_PACKER=ON ...
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)

set(CMAKE_C_COMPILER   ${QUILLBOX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLBOX_MINGW_TRIPLE}-g++-posix)
