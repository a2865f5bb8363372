# Read by cpack once per generator: the tarball carries the Linux packer, the
# zip the Windows one (each with both stubs and its usage text).
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL linux)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_COMPONENTS_ALL windows)
endif()
