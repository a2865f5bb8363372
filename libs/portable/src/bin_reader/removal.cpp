#include "bin_reader/removal.h"

#include <algorithm>

namespace quillbox {
namespace {

// Win32 codes and NT status values, spelled here so that the rules build and
// are tested without the platform's headers.
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
constexpr uint32_t ERROR_DIR_NOT_EMPTY_CODE = 145;
constexpr uint32_t ERROR_DELETE_PENDING_CODE = 303;
constexpr uint32_t STATUS_DELETE_PENDING_CODE = 0xC0000056;

constexpr uint32_t ACCESS_DELETE = 0x00010000;
constexpr uint32_t ACCESS_SYNCHRONIZE = 0x00100000;
constexpr uint32_t ACCESS_READ_ATTRIBUTES = 0x0080;
constexpr uint32_t ACCESS_LIST_DIRECTORY = 0x0001;

}  // namespace

RemovalStep removal_step(uint32_t attributes, uint32_t reparse_tag, bool where_named) {
    constexpr uint32_t NAME_SURROGATE = 0x20000000;
    if (!where_named) return RemovalStep::stop;
    const bool link = (attributes & ATTRIBUTE_REPARSE_POINT) && (reparse_tag & NAME_SURROGATE);
    const bool folder = attributes & ATTRIBUTE_DIRECTORY;
    return folder && !link ? RemovalStep::enter : RemovalStep::delete_alone;
}

bool worth_retrying(uint32_t win32_error, uint32_t nt_status) {
    switch (win32_error) {
        case ERROR_SHARING_VIOLATION_CODE:
        case ERROR_DELETE_PENDING_CODE:
        case ERROR_DIR_NOT_EMPTY_CODE: return true;
        case ERROR_ACCESS_DENIED_CODE: return nt_status == STATUS_DELETE_PENDING_CODE;
        default: return false;
    }
}

uint32_t retry_pause_ms(int attempt) { return attempt < 1 ? 0 : uint32_t{1} << std::min(attempt - 1, 16); }

uint32_t removal_access(bool folder) {
    const uint32_t least = ACCESS_DELETE | ACCESS_SYNCHRONIZE | ACCESS_READ_ATTRIBUTES;
    return folder ? least | ACCESS_LIST_DIRECTORY : least;
}

}  // namespace quillbox
