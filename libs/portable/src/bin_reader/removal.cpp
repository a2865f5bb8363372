#include "bin_reader/removal.h"

namespace quillbox {

RemovalStep removal_step(uint32_t attributes, uint32_t reparse_tag, bool where_named) {
    constexpr uint32_t NAME_SURROGATE = 0x20000000;
    const bool link = (attributes & ATTRIBUTE_REPARSE_POINT) && (reparse_tag & NAME_SURROGATE);
    const bool folder = attributes & ATTRIBUTE_DIRECTORY;
    return folder && !link && where_named ? RemovalStep::enter : RemovalStep::delete_alone;
}

}  // namespace quillbox
