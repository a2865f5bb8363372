# The launcher's logic that needs no platform: splitting and quoting, start mode,
# the environment block, the program name, the fatal report, payload parsing,
# decompression, digests, path rules and temporary names, the removal's and
# the replacing's decisions and the current-file test. One list for every build that compiles
# it: the launcher, the host core and its sanitized twin, the 32-bit test
# build, the fuzzers and the command-line checker.
set(QUILLBOX_PORTABLE_SRC ${CMAKE_CURRENT_LIST_DIR}/../libs/portable/src)
cmake_path(NORMAL_PATH QUILLBOX_PORTABLE_SRC)
set(QUILLBOX_PORTABLE_SOURCES
  ${QUILLBOX_PORTABLE_SRC}/base/error.cpp
  ${QUILLBOX_PORTABLE_SRC}/base/text.cpp
  ${QUILLBOX_PORTABLE_SRC}/base/split.cpp
  ${QUILLBOX_PORTABLE_SRC}/main/start_mode.cpp
  ${QUILLBOX_PORTABLE_SRC}/main/environment.cpp
  ${QUILLBOX_PORTABLE_SRC}/main/launch.cpp
  ${QUILLBOX_PORTABLE_SRC}/base/fatal_report.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/bin_reader.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/digest.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/path.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/removal.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/extract.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/temporary_name.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/replace.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/pe_section.cpp
  ${QUILLBOX_PORTABLE_SRC}/bin_reader/exit_code_setting.cpp
)
