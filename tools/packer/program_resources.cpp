// Reading the main icon group and the version block out of another program's
// resource directory, and merging the version options into a version block.
#include "program_resources.h"

#include <algorithm>

#include "bin_reader/pe_section.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace {
// Its own names: in a unity build the stub editor's sit beside them.
namespace program_file {

using pe::inside;

constexpr uint32_t PE32_MAGIC = 0x10B;
constexpr uint32_t PE32_PLUS_MAGIC = 0x20B;
constexpr uint32_t RESOURCE_DIRECTORY = 2;
constexpr uint32_t HIGH_BIT = 0x80000000;  // a name, or a table rather than a data entry
constexpr size_t GROUP_HEADER = 6;
constexpr size_t GROUP_ENTRY = 14;
constexpr size_t ICO_ENTRY = 16;

// A section: where it lies in memory and which of its bytes the file holds.
struct SectionSpan {
    uint64_t address = 0;
    uint64_t extent = 0;  // in memory
    uint64_t offset = 0;  // of its data in the file
    uint64_t stored = 0;  // bytes of its data inside the file
};

struct ProgramImage {
    Bytes file;
    std::vector<SectionSpan> sections;
    uint64_t resources = 0;  // the resource directory's address, 0 for none
};

Error not_a_program(const std::string& why) { return invalid_input("not a Windows program: " + why); }
Error damaged(const std::string& why) { return invalid_data("its resource directory is damaged: " + why); }

// The headers as far as the resources need them: the resource directory's
// address and the section table, each field inside the file.
Outcome<ProgramImage> read_program(Bytes file) {
    using Result = ProgramImage;
    if (!is_windows_program(file) || !inside(0, pe::NT_OFFSET_FIELD + 4, file.size())) {
        return failed<Result>(not_a_program("no MZ header"));
    }
    const uint64_t nt = read_u32le(file, pe::NT_OFFSET_FIELD);
    if (!inside(nt, 4 + pe::FILE_HEADER_SIZE, file.size()) || read_u32le(file, nt) != 0x4550) {
        return failed<Result>(not_a_program("no PE signature at offset " + std::to_string(nt)));
    }
    const uint64_t optional = nt + 4 + pe::FILE_HEADER_SIZE;
    const uint64_t optional_size = read_u16le(file, nt + 20);
    const uint32_t magic = inside(optional, 2, file.size()) ? read_u16le(file, optional) : 0;
    const uint64_t directories = magic == PE32_MAGIC ? 96 : 112;
    if ((magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) || optional_size < directories ||
        !inside(optional, optional_size, file.size())) {
        return failed<Result>(not_a_program("no optional header it can read"));
    }
    ProgramImage out{file, {}, 0};
    const uint64_t directory_count = read_u32le(file, optional + directories - 4);
    const uint64_t resource_field = optional + directories + 8 * RESOURCE_DIRECTORY;
    if (directory_count > RESOURCE_DIRECTORY && directories + 8 * (RESOURCE_DIRECTORY + 1) <= optional_size) {
        out.resources = read_u32le(file, resource_field);
    }
    const uint64_t table = optional + optional_size;
    const uint64_t count = read_u16le(file, nt + 6);
    if (!inside(table, pe::SECTION_HEADER_SIZE * count, file.size())) {
        return failed<Result>(not_a_program("its section table lies outside the file"));
    }
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = table + pe::SECTION_HEADER_SIZE * i;
        SectionSpan section;
        const uint64_t virtual_size = read_u32le(file, at + 8);
        const uint64_t raw_size = read_u32le(file, at + 16);
        section.address = read_u32le(file, at + 12);
        section.extent = virtual_size != 0 ? virtual_size : raw_size;
        section.offset = read_u32le(file, at + 20);
        // Data cut short by the end of the file reads as missing, not as zeros.
        section.stored = section.offset < file.size() ? std::min(raw_size, file.size() - section.offset) : 0;
        out.sections.push_back(section);
    }
    return succeeded(std::move(out));
}

// The `size` bytes at address `rva`, when one section holds them all in the file.
std::optional<Bytes> at_address(const ProgramImage& image, uint64_t rva, uint64_t size) {
    for (const SectionSpan& section : image.sections) {
        if (rva < section.address || rva - section.address >= section.extent) continue;
        const uint64_t into = rva - section.address;
        if (!inside(into, size, std::min(section.extent, section.stored))) return std::nullopt;
        return image.file.subspan(section.offset + into, size);
    }
    return std::nullopt;
}

// One entry of a table of the resource directory: a name or number, and a
// table or data entry, each an offset from the directory's start.
struct Entry {
    uint32_t key = 0;
    uint32_t target = 0;
    bool named() const { return (key & HIGH_BIT) != 0; }
};

Outcome<std::vector<Entry>> table_at(const ProgramImage& image, uint64_t offset) {
    using Result = std::vector<Entry>;
    const std::optional<Bytes> header = at_address(image, image.resources + offset, 16);
    if (!header) return failed<Result>(damaged("a table lies outside its section"));
    const uint64_t count = uint64_t{read_u16le(*header, 12)} + read_u16le(*header, 14);
    const std::optional<Bytes> entries = at_address(image, image.resources + offset + 16, 8 * count);
    if (!entries) return failed<Result>(damaged("a table's entries lie outside its section"));
    Result out;
    for (uint64_t i = 0; i < count; ++i) out.push_back({read_u32le(*entries, 8 * i), read_u32le(*entries, 8 * i + 4)});
    return succeeded(std::move(out));
}

// The table an entry of the first two levels leads to; depth is fixed at
// three (type, name, language), so a table that leads back up is read as
// the next level down and the walk ends.
Outcome<std::vector<Entry>> subtable(const ProgramImage& image, const Entry& entry) {
    if ((entry.target & HIGH_BIT) == 0) return failed<std::vector<Entry>>(damaged("a type or name without a table"));
    return table_at(image, entry.target & ~HIGH_BIT);
}

// The data an entry of the language level leads to.
Outcome<Bytes> data_of(const ProgramImage& image, const Entry& entry) {
    if ((entry.target & HIGH_BIT) != 0) return failed<Bytes>(damaged("a language with a table instead of data"));
    const std::optional<Bytes> data_entry = at_address(image, image.resources + entry.target, 16);
    if (!data_entry) return failed<Bytes>(damaged("a data entry lies outside its section"));
    const uint64_t size = read_u32le(*data_entry, 4);
    const std::optional<Bytes> data = at_address(image, read_u32le(*data_entry, 0), size);
    if (size == 0) return failed<Bytes>(damaged("an empty resource"));
    if (!data) return failed<Bytes>(damaged("the data of a resource lies outside the file's sections"));
    return succeeded(*data);
}

// The entry with number `id`, the first one stored.
const Entry* entry_with_id(const std::vector<Entry>& entries, uint32_t id) {
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.key == id; });
    return found == entries.end() ? nullptr : &*found;
}

// The first entry in the directory's order: the first named one as stored,
// else the lowest number.
const Entry* first_entry(const std::vector<Entry>& entries) {
    const auto named = std::find_if(entries.begin(), entries.end(), [](const Entry& e) { return e.named(); });
    if (named != entries.end()) return &*named;
    const auto lowest =
        std::min_element(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    return lowest == entries.end() ? nullptr : &*lowest;
}

// The language entries of the first resource of type `type`; empty when the
// program has none.
Outcome<std::vector<Entry>> first_of_type(const ProgramImage& image, uint32_t type) {
    using Result = std::vector<Entry>;
    if (image.resources == 0) return succeeded(Result{});
    const Outcome<Result> types = table_at(image, 0);
    if (!types.ok()) return types;
    const Entry* type_entry = entry_with_id(types.value, type);
    if (type_entry == nullptr) return succeeded(Result{});
    const Outcome<Result> names = subtable(image, *type_entry);
    if (!names.ok()) return names;
    const Entry* name = first_entry(names.value);
    if (name == nullptr) return succeeded(Result{});
    return subtable(image, *name);
}

// The data of the language `language` among `languages`, else of the first.
Outcome<Bytes> data_in_language(const ProgramImage& image, const std::vector<Entry>& languages, uint32_t language) {
    if (languages.empty()) return failed<Bytes>(damaged("a resource without a language"));
    const Entry* wanted = entry_with_id(languages, language);
    return data_of(image, wanted != nullptr ? *wanted : languages.front());
}

// The images the group lists, in its order, each the data of its RT_ICON
// resource: distinct ids, no two sharing bytes.
Outcome<std::vector<Bytes>> group_images(const ProgramImage& image, Bytes group, uint32_t language) {
    using Result = std::vector<Bytes>;
    if (group.size() < GROUP_HEADER || read_u16le(group, 0) != 0 || read_u16le(group, 2) != 1) {
        return failed<Result>(invalid_data("its icon group has no icon group header"));
    }
    const size_t count = read_u16le(group, 4);
    if (count == 0 || count > ICO_IMAGE_LIMIT) {
        return failed<Result>(invalid_data("its icon group lists " + std::to_string(count) +
                                           " images; an icon holds 1 to " + std::to_string(ICO_IMAGE_LIMIT)));
    }
    if (group.size() < GROUP_HEADER + GROUP_ENTRY * count) return failed<Result>(invalid_data("truncated icon group"));
    const Outcome<std::vector<Entry>> types = table_at(image, 0);
    if (!types.ok()) return failed<Result>(*types.error);
    const Entry* icons = entry_with_id(types.value, RT_ICON);
    if (icons == nullptr) return failed<Result>(invalid_data("its icon group lists images it does not have"));
    const Outcome<std::vector<Entry>> ids = subtable(image, *icons);
    if (!ids.ok()) return failed<Result>(*ids.error);
    Result out;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t id = read_u16le(group, GROUP_HEADER + GROUP_ENTRY * i + 12);
        const std::string which = "image " + std::to_string(i + 1) + " (id " + std::to_string(id) + ")";
        const Entry* entry = entry_with_id(ids.value, id);
        if (entry == nullptr) return failed<Result>(invalid_data("its icon group lists " + which + ", which it lacks"));
        const Outcome<std::vector<Entry>> languages = subtable(image, *entry);
        if (!languages.ok()) return failed<Result>(*languages.error);
        const Outcome<Bytes> data = data_in_language(image, languages.value, language);
        if (!data.ok()) return failed<Result>(*data.error);
        for (size_t j = 0; j < out.size(); ++j) {
            const bool apart = data.value.data() + data.value.size() <= out[j].data() ||
                               out[j].data() + out[j].size() <= data.value.data();
            if (!apart) {
                return failed<Result>(
                    invalid_data("its icon group's " + which + " shares its data with image " + std::to_string(j + 1)));
            }
        }
        out.push_back(data.value);
    }
    return succeeded(std::move(out));
}

// The group and its images as an .ico file, for the .ico reader's checks:
// each directory entry as the group has it, with the image's own size.
std::vector<uint8_t> as_ico(Bytes group, const std::vector<Bytes>& images) {
    std::vector<uint8_t> out;
    put_u16le(out, 0);
    put_u16le(out, 1);
    put_u16le(out, images.size());
    uint64_t offset = GROUP_HEADER + ICO_ENTRY * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        const Bytes entry = group.subspan(GROUP_HEADER + GROUP_ENTRY * i, 8);
        out.insert(out.end(), entry.begin(), entry.end());
        put_u32le(out, images[i].size());
        put_u32le(out, offset);
        offset += images[i].size();
    }
    for (const Bytes& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

// The first resource of a type, in its first language: the program it was
// read from, that language and its data.
struct Found {
    ProgramImage image;
    uint32_t language = 0;
    Bytes data;
};

Outcome<Found> first_resource(Bytes file, uint32_t type, const std::string& what) {
    Outcome<ProgramImage> image = read_program(file);
    if (!image.ok()) return failed<Found>(*image.error);
    const Outcome<std::vector<Entry>> languages = first_of_type(image.value, type);
    if (!languages.ok()) return failed<Found>(*languages.error);
    if (languages.value.empty()) return failed<Found>(invalid_input("the program has no " + what));
    const Outcome<Bytes> data = data_of(image.value, languages.value.front());
    if (!data.ok()) return failed<Found>(*data.error);
    return succeeded(Found{std::move(image.value), languages.value.front().key, data.value});
}

// Sets `key` in the table: the value of the key already there (compared
// ignoring ASCII case), else a new string at the end.
void set_string(VersionTable& table, const std::string& key, const std::string& value) {
    for (auto& string : table.strings) {
        if (same_version_key(string.first, key)) {
            string.second = value;
            return;
        }
    }
    table.strings.emplace_back(key, value);
}

}  // namespace program_file
}  // namespace

Outcome<std::vector<IconImage>> program_icon(Bytes file) {
    using Result = std::vector<IconImage>;
    const Outcome<program_file::Found> group = program_file::first_resource(file, RT_GROUP_ICON, "icon group");
    if (!group.ok()) return failed<Result>(*group.error);
    const Outcome<std::vector<Bytes>> images =
        program_file::group_images(group.value.image, group.value.data, group.value.language);
    if (!images.ok()) return failed<Result>(*images.error);
    const std::vector<uint8_t> ico = program_file::as_ico(group.value.data, images.value);
    Outcome<Result> parsed = parse_ico(Bytes(ico.data(), ico.size()));
    if (!parsed.ok()) return failed<Result>(with_context(*parsed.error, "its main icon group"));
    return parsed;
}

Outcome<VersionInfo> program_version(Bytes file) {
    const Outcome<program_file::Found> block = program_file::first_resource(file, RT_VERSION, "version block");
    if (!block.ok()) return failed<VersionInfo>(*block.error);
    return read_version_block(block.value.data);
}

VersionInfo with_version_options(VersionInfo base, const std::optional<std::array<uint16_t, 4>>& version,
                                 const std::vector<std::pair<std::string, std::string>>& strings) {
    if (version) base.file_version = base.product_version = *version;
    // A copied block without strings gets the default table for the ones asked for.
    if (base.tables.empty() && (version || !strings.empty())) {
        base.tables.emplace_back();
        if (base.translations.empty()) base.translations.emplace_back();
    }
    for (VersionTable& table : base.tables) {
        for (const auto& [key, value] : strings) program_file::set_string(table, key, value);
        // The strings Explorer shows follow the numbers given.
        for (const char* key : {"FileVersion", "ProductVersion"}) {
            const bool given = std::any_of(strings.begin(), strings.end(),
                                           [&](const auto& string) { return same_version_key(string.first, key); });
            if (version && !given) program_file::set_string(table, key, version_text(*version));
        }
    }
    return base;
}

}  // namespace quillbox::pack
