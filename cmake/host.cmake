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

add_library(quillbox_core STATIC ${QUILLBOX_PORTABLE_SOURCES} ${PORTABLE_SRC}/base/fatal_host.cpp)
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

# The release archives, so that packing an application needs no compiler:
# `cmake --build . --target release` writes release/<name>.tar.gz (the Linux
# packer) and release/<name>.zip (quillbox-pack.exe), each with both stubs and
# the usage text, from what `cmake --install` puts in each component. Both are
# made by scripts/make-archive.py, whose bytes depend only on the files; the
# stubs and SHA256SUMS beside them are as reproducible.
set(QUILLBOX_STUB_X86_64 "" CACHE FILEPATH "The payload-less launcher of the x86_64 target build")
# Each archive opens into a folder named like itself.
set(linux_dir quillbox-${PROJECT_VERSION}-linux-x86_64)
set(windows_dir quillbox-${PROJECT_VERSION}-windows-x86_64)
install(PROGRAMS $<TARGET_FILE:quillbox-pack-shipped> DESTINATION ${linux_dir} RENAME quillbox-pack COMPONENT linux)
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
set(release_dir ${CMAKE_BINARY_DIR}/release)
set(archive_commands)
foreach(component linux windows)
  if(component STREQUAL "windows" AND NOT QUILLBOX_PACKER_EXE)
    continue()
  endif()
  set(stage ${release_dir}/stage/${component})
  list(APPEND archive_commands
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${stage} --component ${component}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/make-archive.py ${stage}/${${component}_dir}
            ${release_dir}/${${component}_dir}$<IF:$<STREQUAL:${component},linux>,.tar.gz,.zip>)
endforeach()
# Beside the archives, each stub on its own (so that it can be allow-listed by
# its hash) and SHA256SUMS over every file published.
set(stub_commands)
if(QUILLBOX_STUB)
  list(APPEND stub_commands COMMAND ${CMAKE_COMMAND} -E copy ${QUILLBOX_STUB}
       ${release_dir}/quillbox-${PROJECT_VERSION}-stub-windows-i686.exe)
endif()
if(QUILLBOX_STUB_X86_64)
  list(APPEND stub_commands COMMAND ${CMAKE_COMMAND} -E copy ${QUILLBOX_STUB_X86_64}
       ${release_dir}/quillbox-${PROJECT_VERSION}-stub-windows-x86_64.exe)
endif()
add_custom_target(release
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${release_dir}
  ${archive_commands}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${release_dir}/stage
  ${stub_commands}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/write-checksums.py ${release_dir}
  DEPENDS quillbox-pack-shipped VERBATIM)
