// Finding a named section in a PE image, every header field checked first.
#include "bin_reader/pe_section.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace quillbox {
namespace {

using namespace pe;

constexpr size_t NAME_SIZE = 8;

Error bad_header(const std::string& text) { return invalid_input("image header: " + text); }

}  // namespace

Outcome<Bytes> find_section(Bytes image, ImageLayout layout, std::string_view name) {
    const uint64_t size = image.size();
    if (!inside(0, NT_OFFSET_FIELD + 4, size) || image[0] != 'M' || image[1] != 'Z') {
        return failed<Bytes>(bad_header("no DOS header"));
    }
    const uint64_t nt = read_u32le(image, NT_OFFSET_FIELD);
    if (!inside(nt, 4 + FILE_HEADER_SIZE, size) || std::memcmp(image.data() + nt, "PE\0\0", 4) != 0) {
        return failed<Bytes>(bad_header("no PE signature at offset " + std::to_string(nt)));
    }
    const uint64_t count = read_u16le(image, nt + 6);
    const uint64_t table = nt + 4 + FILE_HEADER_SIZE + read_u16le(image, nt + 20);
    if (!inside(table, count * SECTION_HEADER_SIZE, size)) {
        return failed<Bytes>(bad_header("section table of " + std::to_string(count) + " entries at offset " +
                                        std::to_string(table) + " exceeds the image's " + std::to_string(size) +
                                        " bytes"));
    }
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = table + i * SECTION_HEADER_SIZE;
        const char* entry_name = reinterpret_cast<const char*>(image.data() + at);
        if (std::string_view(entry_name, strnlen(entry_name, NAME_SIZE)) != name) continue;
        const uint64_t virtual_size = read_u32le(image, at + 8);
        const uint64_t virtual_address = read_u32le(image, at + 12);
        const uint64_t raw_size = read_u32le(image, at + 16);
        const uint64_t raw_offset = read_u32le(image, at + 20);
        // Past its raw data a section reads as zeros in memory but is absent from the file.
        const bool in_file = layout == ImageLayout::file;
        const uint64_t start = in_file ? raw_offset : virtual_address;
        if ((in_file && virtual_size > raw_size) || !inside(start, virtual_size, size)) {
            return failed<Bytes>(bad_header("section " + std::string(name) + " of " + std::to_string(virtual_size) +
                                            " bytes at offset " + std::to_string(start) + " exceeds the image's " +
                                            std::to_string(size) + " bytes"));
        }
        return succeeded(image.subspan(start, virtual_size));
    }
    return Outcome<Bytes>{};
}

}  // namespace quillbox
