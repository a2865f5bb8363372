// Checks of a built launcher image that read the bytes afresh, apart from the
// packer's own parsing: the loader's placement rules, SizeOfImage, the
// checksum, and the whole file at once from a stub and a payload in memory.
// Shared by the unit tests and the stub-editing fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stub_image.h"

namespace quillbox::testing {

inline uint32_t image_u16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (uint32_t{b[at + 1]} << 8); }
inline uint32_t image_u32(const std::vector<uint8_t>& b, size_t at) {
    return image_u16(b, at) | (image_u16(b, at + 2) << 16);
}

// Where the optional header starts, in an image the packer accepted.
inline size_t optional_header_of(const std::vector<uint8_t>& image) { return image_u32(image, 0x3C) + 24; }

// The checksum as the Windows image helper computes it: fold after every word,
// with the checksum field itself read as zero.
inline uint32_t reference_checksum(const std::vector<uint8_t>& file) {
    const size_t field = optional_header_of(file) + 64;
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == field || i == field + 2) continue;
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

// What the Windows loader would object to in the section layout: a section
// not starting where the one before it ends (the first: where the headers
// end), or a SizeOfImage other than where the last one ends. Nothing when
// the layout holds.
inline std::optional<std::string> loader_layout_problem(const std::vector<uint8_t>& image) {
    const size_t nt = image_u32(image, 0x3C);
    const size_t optional = nt + 24;
    const uint64_t alignment = image_u32(image, optional + 32);
    auto aligned = [&](uint64_t v) { return (v + alignment - 1) / alignment * alignment; };
    const size_t table = optional + image_u16(image, nt + 20);
    uint64_t next = aligned(image_u32(image, optional + 60));
    for (size_t i = 0; i < image_u16(image, nt + 6); ++i) {
        const size_t at = table + 40 * i;
        if (image_u32(image, at + 12) != next) return "section " + std::to_string(i) + " leaves a gap or overlaps";
        const uint32_t virtual_size = image_u32(image, at + 8);
        next += aligned(virtual_size != 0 ? virtual_size : image_u32(image, at + 16));
    }
    if (aligned(image_u32(image, optional + 56)) != next) return "size of image disagrees with the sections";
    return std::nullopt;
}

// Whether two resource lists hold the same resources in the same order.
inline bool same_resources(const std::vector<pack::Resource>& a, const std::vector<pack::Resource>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const pack::Resource& x, const pack::Resource& y) {
        return x.type == y.type && x.name == y.name && x.language == y.language && x.codepage == y.codepage &&
               x.data == y.data;
    });
}

// The whole file at once, as quillbox-pack build writes it in pieces.
inline Outcome<std::vector<uint8_t>> build_image(Bytes stub, Bytes payload, const pack::ResourceChanges& changes = {},
                                                 Bytes exit_setting = {}) {
    Outcome<pack::StubLayout> layout = pack::place_payload(stub, payload.size(), changes, exit_setting);
    if (!layout.ok()) return failed<std::vector<uint8_t>>(*layout.error);
    pack::set_checksum(layout.value, [&](const auto& feed) { feed(payload); });
    std::vector<uint8_t> out = std::move(layout.value.head);
    out.insert(out.end(), payload.begin(), payload.end());
    out.resize(out.size() + layout.value.padding, 0);
    return succeeded(std::move(out));
}

}  // namespace quillbox::testing
