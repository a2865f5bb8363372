# Host configuration: the portable core as a library, the packer, and the tests.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
# Debian's Python, which has the packages the scripts install (python3-brotli).
if(EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
pkg_check_modules(BROTLIDEC REQUIRED IMPORTED_TARGET libbrotlidec libbrotlienc)
pkg_check_modules(LIBCRYPTO REQUIRED IMPORTED_TARGET libcrypto)

function(add_quillbox_core name)
  add_library(${name} STATIC ${QUILLBOX_PORTABLE_SOURCES} ${PORTABLE_SRC}/main/fatal_host.cpp)
  target_include_directories(${name} PUBLIC ${PORTABLE_SRC})
  target_link_libraries(${name} PUBLIC PkgConfig::BROTLIDEC PkgConfig::LIBCRYPTO)
endfunction()

add_quillbox_core(quillbox_core)

add_subdirectory(tools/packer)
add_subdirectory(tests)
add_subdirectory(bench)
