// Rules the packer's Windows layer follows, as portable functions, so that the
// cases Wine cannot produce (cloud placeholders, a scanner holding a new file)
// are tested natively. When to try a held file again is the launcher's rule
// (replace.h).
#pragma once

#include <cstdint>

#include "bin_reader/removal.h"

namespace quillbox::pack {

enum class WalkStep {
    file,       // packed
    enter,      // a folder, walked
    skip_link,  // a link to a folder (symbolic link, junction), not entered and named
};

// What the walk does with a listed item, links as the launcher's removal
// tells them (is_link): a file is packed, a link to one read through.
inline WalkStep walk_step(uint32_t attributes, uint32_t reparse_tag) {
    if (!(attributes & ATTRIBUTE_DIRECTORY)) return WalkStep::file;
    return is_link(attributes, reparse_tag) ? WalkStep::skip_link : WalkStep::enter;
}

}  // namespace quillbox::pack
