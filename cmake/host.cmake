# Host configuration: the portable core as a library, the packer, and the tests.
# QUILLBOX_UNIT_TESTS_ONLY keeps it to the core and the unit tests: the 32-bit
# test build (cmake/linux-i386.cmake) has no benchmark library or fuzzers.
option(QUILLBOX_UNIT_TESTS_ONLY "Configure only the portable core and its unit tests" OFF)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
# Debian's Python, which has the packages the scripts install (python3-brotli).
if(EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
pkg_check_modules(BROTLIDEC REQUIRED IMPORTED_TARGET libbrotlidec libbrotlienc)
pkg_check_modules(LIBCRYPTO REQUIRED IMPORTED_TARGET libcrypto)

add_library(quillbox_core STATIC ${QUILLBOX_PORTABLE_SOURCES} ${PORTABLE_SRC}/main/fatal_host.cpp)
target_include_directories(quillbox_core PUBLIC ${PORTABLE_SRC})
target_link_libraries(quillbox_core PUBLIC PkgConfig::BROTLIDEC PkgConfig::LIBCRYPTO)

add_subdirectory(tools/packer)
add_subdirectory(tests)
if(QUILLBOX_UNIT_TESTS_ONLY)
  return()
endif()
add_subdirectory(bench)

# The release archive (cpack in the host build folder): the packer, both stubs
# and the usage text, so that packing an application needs no compiler.
set(QUILLBOX_STUB_X86_64 "" CACHE FILEPATH "The payload-less launcher of the x86_64 target build")
install(TARGETS quillbox-pack RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/tools/packer/USAGE.txt DESTINATION .)
if(QUILLBOX_STUB)
  install(FILES ${QUILLBOX_STUB} DESTINATION .)
endif()
if(QUILLBOX_STUB_X86_64)
  install(FILES ${QUILLBOX_STUB_X86_64} DESTINATION . RENAME quillbox-stub-x86_64.exe)
endif()
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_FILE_NAME quillbox-${PROJECT_VERSION}-linux-x86_64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
include(CPack)
