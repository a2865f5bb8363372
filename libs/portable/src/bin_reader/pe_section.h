// Finding a named section in a PE image held as bytes, either as the loader
// mapped it or as the file on disk. Every header field read is checked against
// the bytes given, so a damaged or hostile header yields an error, never a read
// outside them.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/bytes.h"
#include "base/error.h"
#include "base/text.h"

namespace quillbox {

// The section that carries the payload: read-only initialised data.
inline constexpr std::string_view PAYLOAD_SECTION = ".qbpayld";

enum class ImageLayout {
    mapped,  // as loaded: sections at their virtual addresses
    file,    // as stored: sections at their raw data offsets
};

// The header layout both the launcher and the packer read.
namespace pe {
inline constexpr size_t NT_OFFSET_FIELD = 0x3C;  // where the DOS header keeps the NT headers' offset
inline constexpr size_t FILE_HEADER_SIZE = 20;
inline constexpr size_t SECTION_HEADER_SIZE = 40;

// Whether [offset, offset + length) lies inside `size` bytes, without wrapping.
inline bool inside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}
}  // namespace pe

// The first `virtual size` bytes of the section called `name` (at most 8
// characters); empty when the image has no such section.
Outcome<Bytes> find_section(Bytes image, ImageLayout layout, std::string_view name);

}  // namespace quillbox
