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
# The end-to-end tests and the Windows archive take it.
set(QUILLBOX_PACKER_EXE "" CACHE FILEPATH "quillbox-pack.exe of the Windows packer build")
add_subdirectory(tests)
if(QUILLBOX_UNIT_TESTS_ONLY)
  return()
endif()
add_subdirectory(bench)

# The release archives (cpack in the host build folder), so that packing an
# application needs no compiler: the Linux one (a .tar.gz) holds the packer,
# the Windows one (a .zip) quillbox-pack.exe; both hold both stubs and the usage text.
set(QUILLBOX_STUB_X86_64 "" CACHE FILEPATH "The payload-less launcher of the x86_64 target build")
# Each archive opens into a folder named like itself.
set(linux_dir quillbox-${PROJECT_VERSION}-linux-x86_64)
set(windows_dir quillbox-${PROJECT_VERSION}-windows-x86_64)
install(TARGETS quillbox-pack RUNTIME DESTINATION ${linux_dir} COMPONENT linux)
install(FILES ${CMAKE_SOURCE_DIR}/tools/packer/USAGE.txt DESTINATION ${linux_dir} COMPONENT linux)
if(QUILLBOX_PACKER_EXE)
  install(PROGRAMS ${QUILLBOX_PACKER_EXE} DESTINATION ${windows_dir} COMPONENT windows)
  install(FILES ${CMAKE_SOURCE_DIR}/tools/packer/USAGE-windows.txt DESTINATION ${windows_dir} RENAME USAGE.txt
          COMPONENT windows)
endif()
foreach(component linux windows)
  if(QUILLBOX_STUB)
    install(FILES ${QUILLBOX_STUB} DESTINATION ${${component}_dir} COMPONENT ${component})
  endif()
  if(QUILLBOX_STUB_X86_64)
    install(FILES ${QUILLBOX_STUB_X86_64} DESTINATION ${${component}_dir} RENAME quillbox-stub-x86_64.exe
            COMPONENT ${component})
  endif()
endforeach()
set(CPACK_GENERATOR TGZ ZIP)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)  # the install folders above are the top folders
set(CPACK_ARCHIVE_LINUX_FILE_NAME ${linux_dir})
set(CPACK_ARCHIVE_WINDOWS_FILE_NAME ${windows_dir})
# Each generator packs one of the two: the tarball the Linux files, the zip the Windows ones.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack-archives.cmake)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
include(CPack)
