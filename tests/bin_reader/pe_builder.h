// A small hand-made PE32 image for tests of the section lookup and of the
// packer's stub editing: headers of 512 bytes with room for two more section
// headers, then .text and .rdata, 512 bytes of data each.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace quillbox::testing {

struct PeBuilder {
    static constexpr size_t NT = 0x40;
    static constexpr size_t OPT = NT + 24;
    static constexpr size_t TABLE = OPT + 224;
    static constexpr size_t SECURITY = OPT + 96 + 8 * 4;
    static constexpr uint32_t IMAGE_SIZE = 0x3000;

    std::vector<uint8_t> bytes = std::vector<uint8_t>(512, 0);

    PeBuilder() {
        bytes[0] = 'M';
        bytes[1] = 'Z';
        set32(0x3C, NT);
        bytes[NT] = 'P';
        bytes[NT + 1] = 'E';
        set16(NT + 4, 0x14C);
        set16(NT + 20, 224);
        set16(OPT, 0x10B);
        set32(OPT + 8, 512);  // initialised data: .rdata
        set32(OPT + 32, 0x1000);
        set32(OPT + 36, 512);
        set32(OPT + 56, IMAGE_SIZE);
        set32(OPT + 60, 512);
        set16(OPT + 68, 2);
        set32(OPT + 92, 16);
        section(".text", 0x100, 0x1000, 'c');
        section(".rdata", 0x80, 0x2000, 'r');
    }

    void set16(size_t at, uint32_t v) {
        bytes[at] = static_cast<uint8_t>(v);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void set32(size_t at, uint32_t v) {
        set16(at, v & 0xFFFF);
        set16(at + 2, v >> 16);
    }
    uint32_t get16(size_t at) const { return bytes[at] | (uint32_t{bytes[at + 1]} << 8); }
    uint32_t get32(size_t at) const { return get16(at) | (get16(at + 2) << 16); }
    size_t header_of(size_t index) const { return TABLE + 40 * index; }

    // Appends a section header and 512 bytes of `fill` at the end of the file.
    PeBuilder& section(std::string_view name, uint32_t virtual_size, uint32_t virtual_address, uint8_t fill,
                       uint32_t raw_size = 512) {
        const size_t index = get16(NT + 6);
        const size_t at = header_of(index);
        for (size_t i = 0; i < name.size() && i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(name[i]);
        set32(at + 8, virtual_size);
        set32(at + 12, virtual_address);
        set32(at + 16, raw_size);
        set32(at + 20, static_cast<uint32_t>(bytes.size()));
        set32(at + 36, 0x40000040);
        set16(NT + 6, static_cast<uint32_t>(index + 1));
        bytes.resize(bytes.size() + raw_size, fill);
        return *this;
    }

    // The image as the loader maps it: headers, then each section at its address.
    std::vector<uint8_t> mapped() const {
        std::vector<uint8_t> image(get32(OPT + 56), 0);
        std::copy_n(bytes.begin(), 512, image.begin());
        for (size_t i = 0; i < get16(NT + 6); ++i) {
            const size_t at = header_of(i);
            const uint32_t size = std::min(get32(at + 8), get32(at + 16));
            std::copy_n(bytes.begin() + get32(at + 20), size, image.begin() + get32(at + 12));
        }
        return image;
    }

    Bytes view() const { return Bytes(bytes.data(), bytes.size()); }
};

}  // namespace quillbox::testing
