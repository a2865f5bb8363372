// Reading the stub's PE headers and section table, each field checked
// against the file, and telling an unsigned Windows image.
#include "stub_headers.h"

#include <algorithm>
#include <cstring>

#include "bin_reader/pe_section.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace {

using namespace pe;

constexpr uint32_t PE32_MAGIC = 0x10B;
constexpr uint32_t PE32_PLUS_MAGIC = 0x20B;
constexpr uint32_t SECURITY_DIRECTORY = 4;
constexpr uint32_t MAX_DIRECTORIES = 16;

bool power_of_two(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

Error not_pe(const std::string& why) { return invalid_input("the stub is not a PE file: " + why); }

// Where the NT headers are, after the DOS header's signature and pointer.
Outcome<uint64_t> nt_headers_offset(Bytes stub) {
    const uint64_t size = stub.size();
    if (size < 2 || stub[0] != 'M' || stub[1] != 'Z') return failed<uint64_t>(not_pe("no MZ signature"));
    if (!inside(0, NT_OFFSET_FIELD + 4, size)) return failed<uint64_t>(not_pe("truncated DOS header"));
    const uint64_t nt = read_u32le(stub, NT_OFFSET_FIELD);
    if (!inside(nt, 4, size) || std::memcmp(stub.data() + nt, "PE\0\0", 4) != 0) {
        return failed<uint64_t>(not_pe("no PE signature at offset " + std::to_string(nt)));
    }
    return succeeded(nt);
}

// The file and optional headers: where they are, that the data directories
// fit, and whether the image is signed.
std::optional<Error> read_optional_header(Bytes stub, uint64_t nt, Headers& out) {
    const uint64_t size = stub.size();
    out.count_field = nt + 6;
    out.optional = nt + 4 + FILE_HEADER_SIZE;
    if (!inside(nt + 4, FILE_HEADER_SIZE, size)) return bad_stub("truncated file header");
    const uint64_t optional_size = read_u16le(stub, nt + 20);
    if (!inside(out.optional, optional_size, size)) return bad_stub("truncated optional header");
    if (optional_size < 2) return bad_stub("no optional header");
    const uint32_t magic = read_u16le(stub, out.optional);
    if (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) {
        return bad_stub("unknown optional header magic " + std::to_string(magic));
    }
    const size_t directories = magic == PE32_MAGIC ? 96 : 112;
    if (optional_size < directories) return bad_stub("optional header too short");
    const uint64_t directory_count = read_u32le(stub, out.optional + directories - 4);
    if (directory_count > MAX_DIRECTORIES || directories + 8 * directory_count > optional_size) {
        return bad_stub(std::to_string(directory_count) + " data directories do not fit");
    }
    out.directories = out.optional + directories;
    out.directory_count = directory_count;
    if (directory_count > SECURITY_DIRECTORY) {
        const size_t security = out.optional + directories + 8 * SECURITY_DIRECTORY;
        out.signed_image = read_u32le(stub, security) != 0 || read_u32le(stub, security + 4) != 0;
    }
    out.table = out.optional + optional_size;
    out.file_alignment = read_u32le(stub, out.optional + OPT_FILE_ALIGNMENT);
    out.section_alignment = read_u32le(stub, out.optional + OPT_SECTION_ALIGNMENT);
    out.size_of_headers = read_u32le(stub, out.optional + OPT_SIZE_OF_HEADERS);
    out.size_of_image = read_u32le(stub, out.optional + OPT_SIZE_OF_IMAGE);
    if (out.size_of_headers > size) {
        return bad_stub(std::to_string(out.size_of_headers) + " bytes of headers in a file of " + std::to_string(size));
    }
    if (!power_of_two(out.file_alignment) || out.file_alignment < 512 || out.file_alignment > 65536 ||
        !power_of_two(out.section_alignment) || out.section_alignment < out.file_alignment) {
        return bad_stub("file alignment " + std::to_string(out.file_alignment) + " and section alignment " +
                        std::to_string(out.section_alignment));
    }
    return std::nullopt;
}

// The section table, each section's data inside the file and its memory inside
// the image.
std::optional<Error> read_sections(Bytes stub, Headers& out) {
    const uint64_t size = stub.size();
    const uint64_t count = read_u16le(stub, out.count_field);
    if (!inside(out.table, count * SECTION_HEADER_SIZE, std::min(size, out.size_of_headers))) {
        return bad_stub("the section table lies outside the headers");
    }
    for (uint64_t i = 0; i < count; ++i) {
        Section section;
        section.header = out.table + i * SECTION_HEADER_SIZE;
        const char* name = reinterpret_cast<const char*>(stub.data() + section.header);
        section.name.assign(name, strnlen(name, 8));
        section.virtual_size = read_u32le(stub, section.header + 8);
        section.virtual_address = read_u32le(stub, section.header + 12);
        section.raw_size = read_u32le(stub, section.header + 16);
        section.raw_offset = read_u32le(stub, section.header + 20);
        if (section.raw_size != 0 &&
            (section.raw_offset < out.size_of_headers || !inside(section.raw_offset, section.raw_size, size))) {
            return bad_stub("the data of section " + section.name + " lies outside the file");
        }
        const uint64_t extent = std::max(section.virtual_size, section.raw_size);
        if (section.virtual_address < out.size_of_headers || section.virtual_address + extent > out.size_of_image) {
            return bad_stub("section " + section.name + " lies outside the image");
        }
        out.sections.push_back(section);
    }
    return std::nullopt;
}

}  // namespace

Error bad_stub(const std::string& why) { return invalid_input("the stub's header is inconsistent: " + why); }

Outcome<Headers> read_headers(Bytes stub) {
    Outcome<uint64_t> nt = nt_headers_offset(stub);
    if (!nt.ok()) return failed<Headers>(*nt.error);
    Headers out;
    if (std::optional<Error> error = read_optional_header(stub, nt.value, out)) return failed<Headers>(*error);
    if (std::optional<Error> error = read_sections(stub, out)) return failed<Headers>(*error);
    return succeeded(std::move(out));
}

bool unsigned_windows_image(Bytes file) {
    const Outcome<uint64_t> nt = nt_headers_offset(file);
    if (!nt.ok()) return false;
    const uint64_t optional = nt.value + 4 + FILE_HEADER_SIZE;
    if (!inside(optional, 2, file.size())) return false;
    const uint32_t magic = read_u16le(file, optional);
    if (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) return false;
    const uint64_t directories = optional + (magic == PE32_MAGIC ? 96 : 112);
    if (!inside(directories - 4, 4, file.size())) return false;
    if (read_u32le(file, directories - 4) <= SECURITY_DIRECTORY) return true;
    const uint64_t security = directories + 8 * SECURITY_DIRECTORY;
    return inside(security, 8, file.size()) && read_u32le(file, security + 4) == 0;
}

}  // namespace quillbox::pack
