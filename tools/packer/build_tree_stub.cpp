// Compiled once per packer: with QUILLBOX_BUILD_TREE_STUB in the build tree's
// own, without it in the shipped one and the Windows one.
#include "build_command.h"

namespace quillbox::pack {

std::optional<std::filesystem::path> build_tree_stub() {
#ifdef QUILLBOX_BUILD_TREE_STUB
    return std::filesystem::path(QUILLBOX_BUILD_TREE_STUB);
#else
    return std::nullopt;
#endif
}

}  // namespace quillbox::pack
