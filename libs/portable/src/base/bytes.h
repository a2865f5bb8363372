// Fixed-width integers read out of bytes, for the payload (big-endian lengths)
// and the image and icon headers (little-endian fields). The caller has checked
// that the field lies inside the bytes.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace quillbox {

inline uint32_t read_u16le(Bytes bytes, size_t at) { return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8); }
inline uint32_t read_u32le(Bytes bytes, size_t at) { return read_u16le(bytes, at) | (read_u16le(bytes, at + 2) << 16); }
inline uint32_t read_u32be(Bytes bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
           uint32_t{bytes[at + 3]};
}

}  // namespace quillbox
