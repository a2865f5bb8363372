# The packer's logic that needs no platform layer: collecting, naming,
# compressing, caching and writing the payload, the stub's image, its resources
# and exit-code setting, the command line and the progress line. One list for
# the Linux and Windows packers and the sanitized unit tests.
set(QUILLBOX_PACKER_SRC ${CMAKE_CURRENT_LIST_DIR}/../tools/packer)
cmake_path(NORMAL_PATH QUILLBOX_PACKER_SRC)
set(QUILLBOX_PACKER_SOURCES)
foreach(name payload_writer brotli_stream stream_check entry_cache stub_headers stub_image resource_tree icon_file ico_directory
    version_block resource_changes program_resources
    entry_names case_fold command_line progress help_text input_check listing exit_code_setting)
  list(APPEND QUILLBOX_PACKER_SOURCES ${QUILLBOX_PACKER_SRC}/${name}.cpp)
endforeach()
