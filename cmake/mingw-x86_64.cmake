# Cross-compiling for 64-bit Windows (only for running the tests where 32-bit Wine cannot run) with Debian's MinGW-w64 toolchain.
# Use with: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLBOX_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${QUILLBOX_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUILLBOX_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER  ${QUILLBOX_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${QUILLBOX_MINGW_TRIPLE}-ar     CACHE FILEPATH "")
set(CMAKE_RANLIB       ${QUILLBOX_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Look for target libraries and headers only in the MinGW sysroot (plus any
# prefixes the caller appends, e.g. the cross-built deps), never on the host;
# programs run at build time still come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUILLBOX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools built for the target run under Wine when it is available.
find_program(QUILLBOX_WINE wine)
if(QUILLBOX_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLBOX_WINE})
endif()
