// The install-mode removal's decisions, apart from the Win32 calls that act on them.
#include "bin_reader/removal.h"

#include <algorithm>

namespace quillbox {
namespace {

// The codes only the removal decides on (the shared ones are in removal.h),
// spelled here for the same reason.
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
constexpr uint32_t ERROR_DIR_NOT_EMPTY_CODE = 145;

constexpr uint32_t ACCESS_DELETE = 0x00010000;
constexpr uint32_t ACCESS_SYNCHRONIZE = 0x00100000;
constexpr uint32_t ACCESS_READ_ATTRIBUTES = 0x0080;
constexpr uint32_t ACCESS_LIST_DIRECTORY = 0x0001;

}  // namespace

bool is_link(uint32_t attributes, uint32_t reparse_tag) {
    return (attributes & ATTRIBUTE_REPARSE_POINT) && (reparse_tag & REPARSE_TAG_NAME_SURROGATE);
}

RemovalStep removal_step(uint32_t attributes, uint32_t reparse_tag, bool where_named) {
    if (!where_named) return RemovalStep::stop;
    const bool folder = attributes & ATTRIBUTE_DIRECTORY;
    return folder && !is_link(attributes, reparse_tag) ? RemovalStep::enter : RemovalStep::delete_alone;
}

RemovalOutcome after_removal_failure(uint32_t win32_error, bool emptied) {
    switch (win32_error) {
        case ERROR_FILE_NOT_FOUND_CODE:
        case ERROR_PATH_NOT_FOUND_CODE: return RemovalOutcome::gone;
        case ERROR_DIR_NOT_EMPTY_CODE: return emptied ? RemovalOutcome::wait : RemovalOutcome::pass_by;
        default: return RemovalOutcome::pass_by;
    }
}

uint32_t retry_pause_ms(int attempt) { return attempt < 1 ? 0 : uint32_t{1} << std::min(attempt - 1, 16); }

uint32_t removal_access(bool folder) {
    const uint32_t least = ACCESS_DELETE | ACCESS_SYNCHRONIZE | ACCESS_READ_ATTRIBUTES;
    return folder ? least | ACCESS_LIST_DIRECTORY : least;
}

}  // namespace quillbox
