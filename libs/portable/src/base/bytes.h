// Fixed-width integers read out of bytes and written into them, for the
// payload (big-endian lengths) and the image, icon and cache headers
// (little-endian fields). A reader's caller has checked that the field lies
// inside the bytes; a writer appends, or sets a field the bytes already hold.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

namespace quillbox {

inline uint32_t read_u16le(Bytes bytes, size_t at) { return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8); }
inline uint32_t read_u32le(Bytes bytes, size_t at) { return read_u16le(bytes, at) | (read_u16le(bytes, at + 2) << 16); }
inline uint64_t read_u64le(Bytes bytes, size_t at) {
    return uint64_t{read_u32le(bytes, at)} | (uint64_t{read_u32le(bytes, at + 4)} << 32);
}
inline uint32_t read_u32be(Bytes bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
           uint32_t{bytes[at + 3]};
}

// The low `width` bytes of `value`, low byte first, after what `out` holds.
inline void put_le(std::vector<uint8_t>& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void put_u16le(std::vector<uint8_t>& out, uint64_t value) { put_le(out, value, 2); }
inline void put_u32le(std::vector<uint8_t>& out, uint64_t value) { put_le(out, value, 4); }
inline void put_u64le(std::vector<uint8_t>& out, uint64_t value) { put_le(out, value, 8); }
inline void put_u32be(std::vector<uint8_t>& out, uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// The field at `at`, which `out` already holds, set to the low bytes of `value`.
inline void set_u16le(std::vector<uint8_t>& out, size_t at, uint64_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}
inline void set_u32le(std::vector<uint8_t>& out, size_t at, uint64_t value) {
    set_u16le(out, at, value);
    set_u16le(out, at + 2, value >> 16);
}

}  // namespace quillbox
