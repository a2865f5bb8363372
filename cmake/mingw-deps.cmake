# The cross-built brotli and OpenSSL digests (scripts/build-mingw-deps.sh) as
# imported libraries, for every Windows program of the tree.
set(QUILLBOX_DEPS_PREFIX "" CACHE PATH "Cross-built brotli and OpenSSL (scripts/build-mingw-deps.sh)")
if(NOT QUILLBOX_DEPS_PREFIX OR NOT EXISTS ${QUILLBOX_DEPS_PREFIX}/lib/libcrypto.a)
  message(FATAL_ERROR "QUILLBOX_DEPS_PREFIX must name the prefix printed by scripts/build-mingw-deps.sh")
endif()

function(add_mingw_dependency name library)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION ${QUILLBOX_DEPS_PREFIX}/lib/${library}
    INTERFACE_INCLUDE_DIRECTORIES ${QUILLBOX_DEPS_PREFIX}/include
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

add_mingw_dependency(mingw_brotlicommon libbrotlicommon.a)
add_mingw_dependency(mingw_brotlidec libbrotlidec.a mingw_brotlicommon)
add_mingw_dependency(mingw_brotlienc libbrotlienc.a mingw_brotlicommon)
add_mingw_dependency(mingw_crypto libcrypto.a)
