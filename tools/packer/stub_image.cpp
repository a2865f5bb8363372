// Turning the stub into a launcher: sections added and dropped, the resources
// rewritten, the headers' totals and the checksum.
#include "stub_image.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "stub_headers.h"

#include "bin_reader/exit_code_setting.h"
#include "bin_reader/pe_section.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace {

using namespace pe;

// Initialised data, readable; neither writable nor executable.
constexpr uint32_t PAYLOAD_CHARACTERISTICS = 0x00000040 | 0x40000000;
// The packer's own resource section, when it rewrites the stub's resources:
// placed before the payload, so the stub's sections keep their addresses.
constexpr std::string_view RESOURCE_SECTION = ".qbrsrc";

uint64_t align_up(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Drops a section this packer added in an earlier build (the payload, or its
// resource section); it must be the last one, in the table, in the file and
// in memory, as this packer places it.
std::optional<Error> drop_added_section(std::string_view name, Headers& headers, std::vector<uint8_t>& head,
                                        uint64_t& initialized_data) {
    auto old = std::find_if(headers.sections.begin(), headers.sections.end(),
                            [&](const Section& s) { return s.name == name; });
    if (old == headers.sections.end()) return std::nullopt;
    const std::string which = name == PAYLOAD_SECTION    ? "payload section"
                              : name == RESOURCE_SECTION ? "resource section " + std::string(name)
                                                         : "section " + std::string(name);
    if (old + 1 != headers.sections.end()) return bad_stub("its " + which + " is not the last section");
    // Cutting the file where the old section's data begins must cut no other data.
    for (const Section& other : headers.sections) {
        const bool data_after =
            old->raw_size != 0 && other.raw_size != 0 && other.raw_offset + other.raw_size > old->raw_offset;
        if (&other != &*old && (other.virtual_address > old->virtual_address || data_after)) {
            return bad_stub("its " + which + " is not at the end of the image");
        }
    }
    if (old->raw_size != 0) head.resize(old->raw_offset);
    std::fill_n(head.begin() + old->header, SECTION_HEADER_SIZE, 0);
    initialized_data -= std::min(initialized_data, old->raw_size);
    headers.size_of_image = old->virtual_address;
    headers.sections.pop_back();
    return std::nullopt;
}

// Where the next section starts, by the rules the Windows loader checks
// before it maps an image (Wine checks none of them):
// 1. the first section starts at SizeOfHeaders rounded up to SectionAlignment;
// 2. each further section starts where the one before it ends: its address
//    plus its virtual size (its raw size when the virtual size is 0), rounded
//    up to SectionAlignment;
// 3. SizeOfImage, rounded up to SectionAlignment, is where the last one ends.
// A stub that breaks any of them is refused; the payload section goes where
// rule 2 puts it, so the result keeps all three (a stub with a larger
// SizeOfImage would leave a gap before the payload, which Windows refuses).
Outcome<uint64_t> next_section_address(const Headers& headers) {
    const uint64_t alignment = headers.section_alignment;
    uint64_t next = align_up(headers.size_of_headers, alignment);
    for (const Section& section : headers.sections) {
        if (section.virtual_address != next) {
            return failed<uint64_t>(bad_stub("section " + section.name + " starts at " +
                                             std::to_string(section.virtual_address) +
                                             ", not where the one before it ends (" + std::to_string(next) + ")"));
        }
        next += align_up(section.virtual_size != 0 ? section.virtual_size : section.raw_size, alignment);
    }
    if (align_up(headers.size_of_image, alignment) != next) {
        return failed<uint64_t>(bad_stub("size of image " + std::to_string(headers.size_of_image) +
                                         " is not where the last section ends (" + std::to_string(next) + ")"));
    }
    return succeeded(next);
}

// Where the sections' data ends in the file. Symbols, debug data or an overlay
// after it would end up inside the payload's place, so they are refused; zeros
// up to the next file-alignment boundary are the padding this packer writes
// before a payload, and a launcher built here is taken again.
Outcome<uint64_t> end_of_section_data(const Headers& headers, const std::vector<uint8_t>& head) {
    uint64_t data_end = headers.size_of_headers;
    for (const Section& section : headers.sections) {
        if (section.raw_size != 0) data_end = std::max(data_end, section.raw_offset + section.raw_size);
    }
    const bool padding_only = head.size() <= align_up(data_end, headers.file_alignment) &&
                              std::all_of(head.begin() + std::min<uint64_t>(data_end, head.size()), head.end(),
                                          [](uint8_t b) { return b == 0; });
    if (head.size() > data_end && !padding_only) {
        return failed<uint64_t>(invalid_input("the stub has " + std::to_string(head.size() - data_end) +
                                              " bytes after its last section; use a stripped stub"));
    }
    return succeeded(data_end);
}

// The offset of a free section header after the table, which must end before
// the first section's data and hold only zeros.
Outcome<size_t> free_section_header(const Headers& headers, const std::vector<uint8_t>& head) {
    const size_t header = headers.table + headers.sections.size() * SECTION_HEADER_SIZE;
    uint64_t first_data = headers.size_of_headers;
    for (const Section& section : headers.sections) {
        if (section.raw_size != 0) first_data = std::min(first_data, section.raw_offset);
    }
    if (header + SECTION_HEADER_SIZE > first_data ||
        !std::all_of(head.begin() + header, head.begin() + header + SECTION_HEADER_SIZE,
                     [](uint8_t b) { return b == 0; })) {
        return failed<size_t>(invalid_input("the stub's headers have no room for another section header"));
    }
    return succeeded(header);
}

// Appends a section header for `size` bytes of initialised read-only data, at
// `virtual_address` in memory and the next file-alignment boundary after
// `data_end` in the file; the headers' totals follow. Returns where its data goes.
Outcome<Section> add_section(std::string_view name, uint64_t size, uint64_t virtual_address, uint64_t data_end,
                             Headers& headers, std::vector<uint8_t>& head, uint64_t& initialized_data) {
    Outcome<size_t> header = free_section_header(headers, head);
    if (!header.ok()) return failed<Section>(*header.error);
    Section section;
    section.header = header.value;
    section.name = name;
    section.virtual_size = size;
    section.virtual_address = virtual_address;
    section.raw_offset = align_up(data_end, headers.file_alignment);
    section.raw_size = align_up(size, headers.file_alignment);
    const uint64_t size_of_image = virtual_address + align_up(size, headers.section_alignment);
    if (size_of_image > IMAGE_LIMIT || section.raw_offset + section.raw_size > IMAGE_LIMIT) {
        const std::string what = name == PAYLOAD_SECTION ? "a payload" : "resources";
        return failed<Section>(invalid_input(what + " of " + std::to_string(size) +
                                             " bytes does not fit: a Windows image stays below 2 GiB"));
    }
    // A total past 32 bits would be stored cut short, and rebuilding would
    // subtract the wrong amount.
    if (initialized_data + section.raw_size > UINT32_MAX) {
        return failed<Section>(bad_stub("initialised data of " + std::to_string(initialized_data) + " bytes"));
    }
    std::memcpy(head.data() + section.header, name.data(), name.size());
    set_u32le(head, section.header + 8, size);
    set_u32le(head, section.header + 12, virtual_address);
    set_u32le(head, section.header + 16, section.raw_size);
    set_u32le(head, section.header + 20, section.raw_offset);
    set_u32le(head, section.header + 36, PAYLOAD_CHARACTERISTICS);
    headers.sections.push_back(section);
    initialized_data += section.raw_size;
    headers.size_of_image = size_of_image;
    return succeeded(section);
}

// The section holding `rva`, and its bytes in the file (those past its raw
// data read as missing).
const Section* section_at(const Headers& headers, uint64_t rva) {
    for (const Section& section : headers.sections) {
        const uint64_t extent = section.virtual_size != 0 ? section.virtual_size : section.raw_size;
        if (rva >= section.virtual_address && rva - section.virtual_address < extent) return &section;
    }
    return nullptr;
}

Outcome<std::vector<Resource>> read_image_resources(Bytes image, const Headers& headers) {
    using Result = std::vector<Resource>;
    if (headers.directory_count <= RESOURCE_DIRECTORY) return succeeded(Result{});
    const uint64_t rva = read_u32le(image, headers.directories + 8 * RESOURCE_DIRECTORY);
    if (rva == 0) return succeeded(Result{});
    const Section* section = section_at(headers, rva);
    if (section == nullptr) return failed<Result>(bad_stub("its resource directory lies in no section"));
    const uint64_t stored =
        section->virtual_size != 0 ? std::min(section->virtual_size, section->raw_size) : section->raw_size;
    const Bytes bytes = stored == 0 ? Bytes() : image.subspan(section->raw_offset, stored);
    return read_resources(bytes, section->virtual_address, rva);
}

// `data` in a section of the packer's own at `virtual_address`, after the
// data so far; `data_end` moves past it.
std::optional<Error> add_data_section(std::string_view name, Bytes data, uint64_t virtual_address, uint64_t& data_end,
                                      Headers& headers, std::vector<uint8_t>& head, uint64_t& initialized_data) {
    Outcome<Section> section =
        add_section(name, data.size(), virtual_address, data_end, headers, head, initialized_data);
    if (!section.ok()) return *section.error;
    head.resize(section.value.raw_offset, 0);
    head.insert(head.end(), data.begin(), data.end());
    head.resize(section.value.raw_offset + section.value.raw_size, 0);
    data_end = head.size();
    return std::nullopt;
}

// The stub's resources as `changes` want them, written into a section of the
// packer's own at `virtual_address`; the resource directory points there.
std::optional<Error> add_resource_section(const std::vector<Resource>& resources, uint64_t virtual_address,
                                          uint64_t& data_end, Headers& headers, std::vector<uint8_t>& head,
                                          uint64_t& initialized_data) {
    if (headers.directory_count <= RESOURCE_DIRECTORY) return bad_stub("it has no resource directory entry");
    const std::vector<uint8_t> data = write_resources(resources, static_cast<uint32_t>(virtual_address));
    if (std::optional<Error> error = add_data_section(RESOURCE_SECTION, Bytes(data.data(), data.size()),
                                                      virtual_address, data_end, headers, head, initialized_data)) {
        return error;
    }
    set_u32le(head, headers.directories + 8 * RESOURCE_DIRECTORY, virtual_address);
    set_u32le(head, headers.directories + 8 * RESOURCE_DIRECTORY + 4, data.size());
    return std::nullopt;
}

// The stub's resources as `changes` want them (none without changes), read
// before the sections an earlier build added are dropped: the directory may
// point into them.
Outcome<std::vector<Resource>> wanted_resources(Bytes stub, const Headers& headers, const ResourceChanges& changes) {
    if (!changes.any()) return succeeded(std::vector<Resource>{});
    Outcome<std::vector<Resource>> resources = read_image_resources(stub, headers);
    if (!resources.ok()) return resources;
    return changed_resources(std::move(resources.value), changes);
}

// Drops the sections an earlier build added: the payload, the exit-code
// section whatever the setting (the caller passes the one to keep), and the
// resource section when the resources are rewritten.
std::optional<Error> drop_added_sections(bool resources_rewritten, Headers& headers, std::vector<uint8_t>& head,
                                         uint64_t& initialized_data) {
    for (std::string_view added : {PAYLOAD_SECTION, EXIT_CODE_SECTION, RESOURCE_SECTION}) {
        if (added == RESOURCE_SECTION && !resources_rewritten) break;
        if (std::optional<Error> error = drop_added_section(added, headers, head, initialized_data)) return error;
    }
    return std::nullopt;
}

}  // namespace

Outcome<StubLayout> place_payload(Bytes stub, uint64_t payload_size, const ResourceChanges& changes,
                                  Bytes exit_setting) {
    Outcome<Headers> parsed = read_headers(stub);
    if (!parsed.ok()) return failed<StubLayout>(*parsed.error);
    Headers& headers = parsed.value;
    // A signature would cover the old bytes; reading a signed launcher is fine.
    if (headers.signed_image) {
        return failed<StubLayout>(
            invalid_input("the stub carries a signature; sign the exe after packing, not the stub"));
    }
    StubLayout out;
    out.head.assign(stub.begin(), stub.end());
    out.checksum_offset = headers.optional + OPT_CHECKSUM;
    uint64_t initialized_data = read_u32le(stub, headers.optional + OPT_SIZE_OF_INITIALIZED_DATA);
    const Outcome<std::vector<Resource>> resources = wanted_resources(stub, headers, changes);
    if (!resources.ok()) return failed<StubLayout>(*resources.error);
    if (std::optional<Error> error = drop_added_sections(changes.any(), headers, out.head, initialized_data)) {
        return failed<StubLayout>(*error);
    }
    // Checked with or without a payload: the result must be an image Windows maps.
    Outcome<uint64_t> next_address = next_section_address(headers);
    if (!next_address.ok()) return failed<StubLayout>(*next_address.error);
    Outcome<uint64_t> data_end = end_of_section_data(headers, out.head);
    if (!data_end.ok()) return failed<StubLayout>(*data_end.error);
    // What the result holds besides the payload follows from the sections kept
    // alone, never from where an earlier payload sat or from the stub's own
    // rounding: SizeOfImage where the last kept section ends, and the file
    // padded to where a payload would start. So building on a built launcher
    // gives the bytes that building on its stub gives.
    headers.size_of_image = next_address.value;
    out.head.resize(align_up(data_end.value, headers.file_alignment), 0);
    if (changes.any()) {
        if (std::optional<Error> error = add_resource_section(resources.value, next_address.value, data_end.value,
                                                              headers, out.head, initialized_data)) {
            return failed<StubLayout>(*error);
        }
    }
    if (!exit_setting.empty()) {
        if (std::optional<Error> error = add_data_section(EXIT_CODE_SECTION, exit_setting, headers.size_of_image,
                                                          data_end.value, headers, out.head, initialized_data)) {
            return failed<StubLayout>(*error);
        }
    }
    if (payload_size != 0) {
        Outcome<Section> payload = add_section(PAYLOAD_SECTION, payload_size, headers.size_of_image, data_end.value,
                                               headers, out.head, initialized_data);
        if (!payload.ok()) return failed<StubLayout>(*payload.error);
        out.head.resize(payload.value.raw_offset, 0);
        out.padding = payload.value.raw_size - payload_size;
    }
    set_u16le(out.head, headers.count_field, headers.sections.size());
    set_u32le(out.head, headers.optional + OPT_SIZE_OF_INITIALIZED_DATA, initialized_data);
    set_u32le(out.head, headers.optional + OPT_SIZE_OF_IMAGE, headers.size_of_image);
    set_u32le(out.head, out.checksum_offset, 0);
    return succeeded(std::move(out));
}

Outcome<std::vector<Resource>> image_resources(Bytes image) {
    Outcome<Headers> parsed = read_headers(image);
    if (!parsed.ok()) return failed<std::vector<Resource>>(*parsed.error);
    return read_image_resources(image, parsed.value);
}

void ImageChecksum::add(Bytes bytes) {
    size_t i = 0;
    if ((length & 1) != 0 && !bytes.empty()) sum += uint64_t{bytes[i++]} << 8;  // completes the pending word
    for (; i + 1 < bytes.size(); i += 2) sum += uint64_t{bytes[i]} | (uint64_t{bytes[i + 1]} << 8);
    if (i < bytes.size()) sum += bytes[i];
    length += bytes.size();
}

uint32_t ImageChecksum::value() const {
    uint64_t folded = sum;
    while (folded > 0xFFFF) folded = (folded & 0xFFFF) + (folded >> 16);
    return static_cast<uint32_t>(folded + length);
}

}  // namespace quillbox::pack
