// Finding a named section in a PE image held as bytes, either as the loader
// mapped it or as the file on disk. Every header field read is checked against
// the bytes given, so a damaged or hostile header yields an error, never a read
// outside them.
#pragma once

#include <string_view>

#include "main/error.h"
#include "main/text.h"

namespace quillbox {

// The section that carries the payload: read-only initialised data.
inline constexpr std::string_view PAYLOAD_SECTION = ".qbpayld";

enum class ImageLayout {
    mapped,  // as loaded: sections at their virtual addresses
    file,    // as stored: sections at their raw data offsets
};

// The first `virtual size` bytes of the section called `name` (at most 8
// characters); empty when the image has no such section.
Outcome<Bytes> find_section(Bytes image, ImageLayout layout, std::string_view name);

}  // namespace quillbox
