// Rules the packer's Windows layer follows, as portable functions, so that the
// cases Wine cannot produce (cloud placeholders, a scanner holding a new file)
// are tested natively.
#pragma once

#include <cstdint>

#include "bin_reader/extract.h"
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

inline constexpr unsigned RENAME_ATTEMPTS = 10;

// The pause in milliseconds before renaming the new output into place again
// after attempt `attempt` (from 0) failed with `code`, or 0 to give up. A virus
// scanner opens a new exe the moment it is closed and holds it for a moment;
// the pauses grow to about a second in all.
inline unsigned rename_retry_pause(unsigned attempt, uint32_t code) {
    if (!replacing_worth_retrying(code)) return 0;  // the launcher's rule for the same move
    if (attempt + 1 >= RENAME_ATTEMPTS) return 0;
    return 20 * (attempt + 1);
}

}  // namespace quillbox::pack
