#include "bin_reader/removal.h"

#include <algorithm>

namespace quillbox {
namespace {

// The codes and NT status values only the removal decides on (the shared ones
// are in removal.h), spelled here for the same reason.
constexpr uint32_t ERROR_DIR_NOT_EMPTY_CODE = 145;
constexpr uint32_t ERROR_DELETE_PENDING_CODE = 303;
constexpr uint32_t STATUS_DELETE_PENDING_CODE = 0xC0000056;

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

bool worth_retrying(uint32_t win32_error, uint32_t nt_status) {
    switch (win32_error) {
        case WIN32_SHARING_VIOLATION:
        case ERROR_DELETE_PENDING_CODE:
        case ERROR_DIR_NOT_EMPTY_CODE: return true;
        case WIN32_ACCESS_DENIED: return nt_status == STATUS_DELETE_PENDING_CODE;
        default: return false;
    }
}

uint32_t retry_pause_ms(int attempt) { return attempt < 1 ? 0 : uint32_t{1} << std::min(attempt - 1, 16); }

uint32_t removal_access(bool folder) {
    const uint32_t least = ACCESS_DELETE | ACCESS_SYNCHRONIZE | ACCESS_READ_ATTRIBUTES;
    return folder ? least | ACCESS_LIST_DIRECTORY : least;
}

}  // namespace quillbox
