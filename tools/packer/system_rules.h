// Rules the packer's Windows layer follows, as portable functions, so that the
// cases Wine cannot produce (cloud placeholders, a scanner holding a new file)
// are tested natively.
#pragma once

#include <cstdint>

#include "bin_reader/extract.h"

namespace quillbox::pack {

inline constexpr uint32_t DIRECTORY_ATTRIBUTE = 0x10;
inline constexpr uint32_t REPARSE_POINT_ATTRIBUTE = 0x400;
inline constexpr uint32_t NAME_SURROGATE_TAG_BIT = 0x20000000;

enum class WalkStep {
    file,       // packed
    enter,      // a folder, walked
    skip_link,  // a link to a folder (symbolic link, junction), not entered and named
};

// What the walk does with a listed item: only a name-surrogate reparse point
// is a link; any other (a cloud placeholder, a deduplicated file) is the
// ordinary file or folder it stands for.
inline WalkStep walk_step(uint32_t attributes, uint32_t reparse_tag) {
    if (!(attributes & DIRECTORY_ATTRIBUTE)) return WalkStep::file;
    const bool link = (attributes & REPARSE_POINT_ATTRIBUTE) && (reparse_tag & NAME_SURROGATE_TAG_BIT);
    return link ? WalkStep::skip_link : WalkStep::enter;
}

inline constexpr uint32_t SHARING_VIOLATION = 32;  // ERROR_SHARING_VIOLATION
inline constexpr uint32_t ACCESS_DENIED = 5;       // ERROR_ACCESS_DENIED
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
