#include "resources.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "bin_reader/pe_section.h"
#include "ico_directory.h"

namespace quillbox::pack {
namespace {

using pe::inside;

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t ICO_HEADER = 6;
constexpr size_t ICO_ENTRY = 16;
constexpr size_t GROUP_ENTRY = 14;
constexpr size_t BITMAP_HEADER = 40;
constexpr uint32_t NAME_OR_DIRECTORY = 0x80000000;
constexpr size_t VERSION_BLOCK_LIMIT = 0xFFFF;

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
void pad_to(std::vector<uint8_t>& out, size_t alignment) {
    out.resize((out.size() + alignment - 1) / alignment * alignment, 0);
}

std::string dimensions(uint64_t width, uint64_t height) { return std::to_string(width) + "x" + std::to_string(height); }
uint32_t full_size(uint8_t directory_size) { return directory_size == 0 ? 256 : directory_size; }

// A PNG image's size and depth from its IHDR chunk, against the directory's size.
std::optional<std::string> check_png(Bytes image, IconImage& out) {
    if (image.size() < 33 || read_u32be(image, 8) != 13 || std::memcmp(image.data() + 12, "IHDR", 4) != 0) {
        return "is a PNG without its IHDR header";
    }
    const uint32_t width = read_u32be(image, 16);
    const uint32_t height = read_u32be(image, 20);
    if (width != full_size(out.width) || height != full_size(out.height)) {
        return "is listed as " + dimensions(full_size(out.width), full_size(out.height)) + " but its PNG is " +
               dimensions(width, height);
    }
    const uint32_t depth = image[24];
    const uint32_t color_type = image[25];
    // The depths PNG allows for each colour type (grey, RGB, palette, grey and alpha, RGBA).
    const bool valid = (color_type == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
                       (color_type == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
                       ((color_type == 2 || color_type == 4 || color_type == 6) && (depth == 8 || depth == 16));
    if (!valid) {
        return "is a PNG of depth " + std::to_string(depth) + " and colour type " + std::to_string(color_type) +
               ", which PNG does not have";
    }
    const uint32_t channels = color_type == 2 ? 3 : color_type == 4 ? 2 : color_type == 6 ? 4 : 1;
    out.bit_count = static_cast<uint16_t>(depth * channels);
    out.png = true;
    return std::nullopt;
}

// A bitmap image: its header's size and depth against the directory's, and
// enough bytes for its palette, colour rows and mask rows.
std::optional<std::string> check_bitmap(Bytes image, IconImage& out) {
    if (image.size() < BITMAP_HEADER) return "is neither a PNG nor a bitmap with its header";
    const uint32_t header = read_u32le(image, 0);
    const int32_t width = static_cast<int32_t>(read_u32le(image, 4));
    const int32_t height = static_cast<int32_t>(read_u32le(image, 8));
    const uint32_t planes = read_u16le(image, 12);
    const uint32_t bits = read_u16le(image, 14);
    const uint32_t compression = read_u32le(image, 16);
    const uint32_t colors_used = read_u32le(image, 32);
    if (header < BITMAP_HEADER || header > image.size())
        return "has a bitmap header of " + std::to_string(header) + " bytes";
    const int64_t want_width = full_size(out.width);
    const int64_t want_height = full_size(out.height);
    if (width != want_width || height != 2 * want_height) {
        return "is listed as " + dimensions(want_width, want_height) + " but its bitmap is " +
               dimensions(width, height < 0 ? height : height / 2);
    }
    if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        compression != 0) {
        return "is a bitmap of " + std::to_string(planes) + " planes, " + std::to_string(bits) +
               " bits and compression " + std::to_string(compression) + ", which an icon cannot be";
    }
    const uint64_t palette_limit = bits <= 8 ? uint64_t{1} << bits : 0;
    if (colors_used > palette_limit && bits <= 8) return "has " + std::to_string(colors_used) + " palette colours";
    const uint64_t palette = bits <= 8 ? (colors_used != 0 ? colors_used : palette_limit) : colors_used;
    const uint64_t color_row = (uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32 * 4;
    const uint64_t mask_row = (uint64_t{static_cast<uint32_t>(width)} + 31) / 32 * 4;
    const uint64_t needed = header + 4 * palette + (color_row + mask_row) * static_cast<uint64_t>(want_height);
    if (needed > image.size()) {
        return "needs " + std::to_string(needed) + " bytes as a " + dimensions(want_width, want_height) + " " +
               std::to_string(bits) + "-bit bitmap, but the directory gives it " + std::to_string(image.size());
    }
    out.bit_count = static_cast<uint16_t>(bits);
    return std::nullopt;
}

}  // namespace

void set16(std::vector<uint8_t>& out, size_t at, uint64_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void set32(std::vector<uint8_t>& out, size_t at, uint64_t value) {
    set16(out, at, value & 0xFFFF);
    set16(out, at + 2, (value >> 16) & 0xFFFF);
}

Outcome<std::vector<IconImage>> parse_ico(Bytes file) {
    using Result = std::vector<IconImage>;
    if (file.size() < ICO_HEADER) return failed<Result>(invalid_data("truncated .ico header"));
    if (read_u16le(file, 0) != 0 || read_u16le(file, 2) != 1) return failed<Result>(invalid_data("not an .ico file"));
    const size_t count = read_u16le(file, 4);
    if (count == 0) return failed<Result>(invalid_data("the .ico file holds no image"));
    if (std::optional<std::string> problem = ico_directory_problem(file)) return failed<Result>(invalid_data(*problem));
    const size_t directory_end = ICO_HEADER + ICO_ENTRY * count;
    if (!inside(0, directory_end, file.size())) {
        return failed<Result>(invalid_data("truncated .ico directory: " + std::to_string(count) + " images listed"));
    }
    Result images;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = ICO_HEADER + ICO_ENTRY * i;
        IconImage image;
        image.width = file[entry];
        image.height = file[entry + 1];
        image.colors = file[entry + 2];
        const uint64_t size = read_u32le(file, entry + 8);
        const uint64_t offset = read_u32le(file, entry + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count) + " ";
        if (size == 0 || offset < directory_end || !inside(offset, size, file.size())) {
            return failed<Result>(invalid_data(which + "(" + std::to_string(size) + " bytes at offset " +
                                               std::to_string(offset) + ") lies outside the file (" +
                                               std::to_string(file.size()) + " bytes)"));
        }
        const Bytes data = file.subspan(offset, size);
        const bool png =
            size >= sizeof PNG_SIGNATURE && std::memcmp(data.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
        if (std::optional<std::string> problem = png ? check_png(data, image) : check_bitmap(data, image)) {
            return failed<Result>(invalid_data(which + *problem));
        }
        image.data.assign(data.begin(), data.end());
        images.push_back(std::move(image));
    }
    return succeeded(std::move(images));
}

std::vector<uint8_t> icon_group(const std::vector<IconImage>& images, uint16_t first_id) {
    std::vector<uint8_t> out;
    put16(out, 0);
    put16(out, 1);
    put16(out, static_cast<uint32_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        out.insert(out.end(), {image.width, image.height, image.colors, 0});
        put16(out, 1);  // planes
        put16(out, image.bit_count);
        put32(out, static_cast<uint32_t>(image.data.size()));
        put16(out, static_cast<uint32_t>(first_id + i));
    }
    return out;
}

// ---- Version block: nested records of length, value length, type, key, value.

namespace {

void put_text(std::vector<uint8_t>& out, std::u16string_view text) {
    for (char16_t unit : text) put16(out, unit);
    put16(out, 0);
}

// Starts a record and returns where its length goes; the caller appends the
// value and children, then closes it.
size_t open_record(std::vector<uint8_t>& out, std::u16string_view key, uint32_t value_length, uint32_t type) {
    pad_to(out, 4);
    const size_t start = out.size();
    put16(out, 0);
    put16(out, value_length);
    put16(out, type);
    put_text(out, key);
    pad_to(out, 4);
    return start;
}

void close_record(std::vector<uint8_t>& out, size_t start) {
    set16(out, start, static_cast<uint32_t>(out.size() - start));
}

uint32_t high(const std::array<uint16_t, 4>& v) { return (uint32_t{v[0]} << 16) | v[1]; }
uint32_t low(const std::array<uint16_t, 4>& v) { return (uint32_t{v[2]} << 16) | v[3]; }

}  // namespace

bool same_version_key(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<Error> check_version_string(std::string_view key, std::string_view value) {
    if (key.empty()) return invalid_input("a version string needs a key before '='");
    if (value.empty()) return invalid_input("the version string " + std::string(key) + " has an empty value");
    if (!is_valid_utf8(key) || !is_valid_utf8(value)) return invalid_input("version strings must be valid UTF-8");
    const size_t key_length = utf8_to_utf16(key).size();
    const size_t value_length = utf8_to_utf16(value).size();
    if (key_length > VERSION_KEY_LIMIT) {
        return invalid_input("the version string key " + std::string(key) + " is longer than " +
                             std::to_string(VERSION_KEY_LIMIT) + " characters");
    }
    if (value_length > VERSION_VALUE_LIMIT) {
        return invalid_input("the value of version string " + std::string(key) + " is longer than " +
                             std::to_string(VERSION_VALUE_LIMIT) + " characters");
    }
    if (key.find('\0') != std::string_view::npos || value.find('\0') != std::string_view::npos) {
        return invalid_input("version strings cannot hold NUL");
    }
    return std::nullopt;
}

Outcome<std::vector<uint8_t>> version_block(const VersionInfo& info) {
    std::vector<uint8_t> out;
    const size_t root = open_record(out, u"VS_VERSION_INFO", 52, 0);
    put32(out, 0xFEEF04BD);  // the fixed part's signature
    put32(out, 0x00010000);  // its structure version
    put32(out, high(info.file_version));
    put32(out, low(info.file_version));
    put32(out, high(info.product_version));
    put32(out, low(info.product_version));
    put32(out, info.flags_mask);
    put32(out, info.flags);
    put32(out, 0x40004);  // VOS_NT_WINDOWS32
    put32(out, 1);        // VFT_APP
    put32(out, 0);        // subtype
    put32(out, 0);        // date: none, so the same input gives the same bytes
    put32(out, 0);
    if (!info.tables.empty()) {
        const size_t string_info = open_record(out, u"StringFileInfo", 0, 1);
        for (const VersionTable& table : info.tables) {
            const size_t start = open_record(out, utf8_to_utf16(table.language), 0, 1);
            for (const auto& [key, value] : table.strings) {
                const std::u16string text = utf8_to_utf16(value);
                const size_t string = open_record(out, utf8_to_utf16(key), static_cast<uint32_t>(text.size() + 1), 1);
                put_text(out, text);
                close_record(out, string);
            }
            close_record(out, start);
        }
        close_record(out, string_info);
    }
    if (!info.translations.empty()) {
        const size_t var_info = open_record(out, u"VarFileInfo", 0, 1);
        const size_t translation =
            open_record(out, u"Translation", static_cast<uint32_t>(4 * info.translations.size()), 0);
        for (const VersionTranslation& pair : info.translations) {
            put16(out, pair.language);
            put16(out, pair.codepage);
        }
        close_record(out, translation);
        close_record(out, var_info);
    }
    if (out.size() > VERSION_BLOCK_LIMIT) {
        return failed<std::vector<uint8_t>>(invalid_input("the version strings take " + std::to_string(out.size()) +
                                                          " bytes; a version block holds at most 65535"));
    }
    close_record(out, root);
    return succeeded(std::move(out));
}

namespace {

// One record of a version block, bounded by its parent.
struct VersionRecord {
    std::u16string key;
    Bytes value;     // the value's bytes as stored
    Bytes children;  // the records after the value
    bool text = false;
};

std::optional<VersionRecord> read_record(Bytes block) {
    if (block.size() < 6) return std::nullopt;
    const size_t length = read_u16le(block, 0);
    const size_t value_length = read_u16le(block, 2);
    VersionRecord record;
    record.text = read_u16le(block, 4) == 1;
    if (length < 6 || length > block.size()) return std::nullopt;
    size_t at = 6;
    for (;; at += 2) {
        if (at + 2 > length) return std::nullopt;
        const char16_t unit = static_cast<char16_t>(read_u16le(block, at));
        if (unit == 0) break;
        record.key.push_back(unit);
    }
    at = std::min<size_t>((at + 2 + 3) / 4 * 4, length);  // a record without a value may end unpadded
    size_t value_bytes = record.text ? 2 * value_length : value_length;
    // Some tools count a string's value in bytes, not characters: it ends with its record all the same.
    if (record.text && value_bytes > length - at) value_bytes = (length - at) & ~size_t{1};
    if (value_bytes > length - at) return std::nullopt;
    record.value = block.subspan(at, value_bytes);
    at = (at + value_bytes + 3) / 4 * 4;
    record.children = at < length ? block.subspan(at, length - at) : Bytes();
    return record;
}

// The records one after another in `bytes`, up to zeros that pad the end;
// nothing when one of them is damaged.
std::optional<std::vector<VersionRecord>> read_records(Bytes bytes) {
    std::vector<VersionRecord> out;
    for (size_t at = 0; at < bytes.size(); at = (at + read_u16le(bytes, at) + 3) / 4 * 4) {
        if (bytes.size() - at < 6 || read_u16le(bytes, at) == 0) {
            if (std::any_of(bytes.begin() + at, bytes.end(), [](uint8_t b) { return b != 0; })) return std::nullopt;
            break;
        }
        const std::optional<VersionRecord> record = read_record(bytes.subspan(at));
        if (!record) return std::nullopt;
        out.push_back(*record);
    }
    return out;
}

std::array<uint16_t, 4> parts(uint32_t high_word, uint32_t low_word) {
    return {static_cast<uint16_t>(high_word >> 16), static_cast<uint16_t>(high_word),
            static_cast<uint16_t>(low_word >> 16), static_cast<uint16_t>(low_word)};
}

std::string text_of(Bytes utf16) {
    std::u16string value;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) value.push_back(char16_t(read_u16le(utf16, i)));
    while (!value.empty() && value.back() == 0) value.pop_back();
    return utf16_to_utf8_lossy(value);
}

// The string tables under StringFileInfo.
std::optional<std::vector<VersionTable>> read_tables(Bytes children) {
    std::optional<std::vector<VersionRecord>> tables = read_records(children);
    if (!tables) return std::nullopt;
    std::vector<VersionTable> out;
    for (const VersionRecord& table : *tables) {
        std::optional<std::vector<VersionRecord>> strings = read_records(table.children);
        if (!strings) return std::nullopt;
        VersionTable read{utf16_to_utf8_lossy(table.key), {}};
        for (const VersionRecord& string : *strings) {
            read.strings.emplace_back(utf16_to_utf8_lossy(string.key), text_of(string.value));
        }
        out.push_back(std::move(read));
    }
    return out;
}

// The Translation var's pairs under VarFileInfo.
std::optional<std::vector<VersionTranslation>> read_translations(Bytes children) {
    std::optional<std::vector<VersionRecord>> vars = read_records(children);
    if (!vars) return std::nullopt;
    std::vector<VersionTranslation> out;
    for (const VersionRecord& var : *vars) {
        if (var.key != u"Translation") continue;
        for (size_t i = 0; i + 4 <= var.value.size(); i += 4) {
            out.push_back(
                {static_cast<uint16_t>(read_u16le(var.value, i)), static_cast<uint16_t>(read_u16le(var.value, i + 2))});
        }
    }
    return out;
}

}  // namespace

Outcome<VersionInfo> read_version_block(Bytes block) {
    const std::optional<VersionRecord> root = read_record(block);
    const auto damaged = [] { return failed<VersionInfo>(invalid_data("damaged version block")); };
    if (!root || root->key != u"VS_VERSION_INFO" || root->value.size() < 52 ||
        read_u32le(root->value, 0) != 0xFEEF04BD) {
        return damaged();
    }
    VersionInfo info;
    info.file_version = parts(read_u32le(root->value, 8), read_u32le(root->value, 12));
    info.product_version = parts(read_u32le(root->value, 16), read_u32le(root->value, 20));
    info.flags_mask = read_u32le(root->value, 24);
    info.flags = read_u32le(root->value, 28);
    info.tables.clear();
    info.translations.clear();
    const std::optional<std::vector<VersionRecord>> children = read_records(root->children);
    if (!children) return damaged();
    for (const VersionRecord& child : *children) {
        if (child.key == u"StringFileInfo") {
            std::optional<std::vector<VersionTable>> tables = read_tables(child.children);
            if (!tables) return damaged();
            info.tables.insert(info.tables.end(), tables->begin(), tables->end());
        } else if (child.key == u"VarFileInfo") {
            std::optional<std::vector<VersionTranslation>> translations = read_translations(child.children);
            if (!translations) return damaged();
            info.translations.insert(info.translations.end(), translations->begin(), translations->end());
        }
    }
    return succeeded(std::move(info));
}

// ---- The resource directory.

namespace {

struct DirectoryReader {
    Bytes section;
    uint64_t section_rva = 0;
    uint64_t base = 0;  // the directory's offset in the section
    // Entries and data read so far: a directory whose tables or data are shared
    // could otherwise stand for far more than the section holds.
    mutable uint64_t entries_read = 0;
    mutable uint64_t data_read = 0;

    Error damaged(const std::string& why) const { return invalid_data("the resource directory is damaged: " + why); }

    Outcome<ResourceKey> key(uint32_t field) const {
        ResourceKey out;
        if ((field & NAME_OR_DIRECTORY) == 0) {
            out.id = field;
            return succeeded(out);
        }
        const uint64_t at = base + (field & ~NAME_OR_DIRECTORY);
        if (!inside(at, 2, section.size())) return failed<ResourceKey>(damaged("a name lies outside the section"));
        const size_t length = read_u16le(section, at);
        if (length == 0) return failed<ResourceKey>(damaged("an empty name"));
        if (!inside(at + 2, 2 * uint64_t{length}, section.size())) {
            return failed<ResourceKey>(damaged("a name lies outside the section"));
        }
        for (size_t i = 0; i < length; ++i) out.name.push_back(char16_t(read_u16le(section, at + 2 + 2 * i)));
        return succeeded(out);
    }

    // The entries of the table at `offset`: key field and target field.
    Outcome<std::vector<std::pair<uint32_t, uint32_t>>> entries(uint64_t offset) const {
        using Result = std::vector<std::pair<uint32_t, uint32_t>>;
        const uint64_t at = base + offset;
        if (!inside(at, 16, section.size())) return failed<Result>(damaged("a table lies outside the section"));
        const uint64_t count = uint64_t{read_u16le(section, at + 12)} + read_u16le(section, at + 14);
        if (!inside(at + 16, 8 * count, section.size()))
            return failed<Result>(damaged("a table lies outside the section"));
        entries_read += count;
        if (entries_read > section.size() / 8) return failed<Result>(damaged("its tables are shared"));
        Result out;
        for (uint64_t i = 0; i < count; ++i) {
            out.emplace_back(read_u32le(section, at + 16 + 8 * i), read_u32le(section, at + 20 + 8 * i));
        }
        return succeeded(std::move(out));
    }

    std::optional<Error> leaf(uint32_t target, Resource& out) const {
        const uint64_t at = base + target;
        if ((target & NAME_OR_DIRECTORY) != 0 || !inside(at, 16, section.size())) {
            return damaged("a data entry lies outside the section or is a table");
        }
        const uint64_t rva = read_u32le(section, at);
        const uint64_t size = read_u32le(section, at + 4);
        out.codepage = read_u32le(section, at + 8);
        if (rva < section_rva || !inside(rva - section_rva, size, section.size())) {
            return damaged("the data of a resource lies outside the section");
        }
        data_read += size;
        if (data_read > section.size()) return damaged("its data is shared");
        const Bytes data = section.subspan(rva - section_rva, size);
        out.data.assign(data.begin(), data.end());
        return std::nullopt;
    }
};

bool key_less(const ResourceKey& a, const ResourceKey& b) {
    const bool a_named = !a.name.empty();
    const bool b_named = !b.name.empty();
    if (a_named != b_named) return a_named;
    return a_named ? a.name < b.name : a.id < b.id;
}

bool resource_less(const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return key_less(a.type, b.type);
    if (!(a.name == b.name)) return key_less(a.name, b.name);
    return a.language < b.language;
}

std::string key_text(const ResourceKey& key) {
    return key.name.empty() ? std::to_string(key.id) : "\"" + utf16_to_utf8_lossy(key.name) + "\"";
}

}  // namespace

Outcome<std::vector<Resource>> read_resources(Bytes section, uint64_t section_rva, uint64_t directory_rva) {
    using Result = std::vector<Resource>;
    DirectoryReader reader{section, section_rva, directory_rva - section_rva};
    if (directory_rva < section_rva) return failed<Result>(reader.damaged("it starts before its section"));
    Result out;
    // Three levels, type, name and language, each target a table but the last.
    const auto types = reader.entries(0);
    if (!types.ok()) return failed<Result>(*types.error);
    for (const auto& [type_field, names_table] : types.value) {
        const Outcome<ResourceKey> type = reader.key(type_field);
        if (!type.ok()) return failed<Result>(*type.error);
        if ((names_table & NAME_OR_DIRECTORY) == 0) return failed<Result>(reader.damaged("a type without a table"));
        const auto names = reader.entries(names_table & ~NAME_OR_DIRECTORY);
        if (!names.ok()) return failed<Result>(*names.error);
        for (const auto& [name_field, languages_table] : names.value) {
            const Outcome<ResourceKey> name = reader.key(name_field);
            if (!name.ok()) return failed<Result>(*name.error);
            if ((languages_table & NAME_OR_DIRECTORY) == 0)
                return failed<Result>(reader.damaged("a name without a table"));
            const auto languages = reader.entries(languages_table & ~NAME_OR_DIRECTORY);
            if (!languages.ok()) return failed<Result>(*languages.error);
            for (const auto& [language, data] : languages.value) {
                if ((language & NAME_OR_DIRECTORY) != 0) return failed<Result>(reader.damaged("a named language"));
                Resource resource{type.value, name.value, language, 0, {}};
                if (std::optional<Error> error = reader.leaf(data, resource)) return failed<Result>(*error);
                out.push_back(std::move(resource));
            }
        }
    }
    std::stable_sort(out.begin(), out.end(), resource_less);
    for (size_t i = 1; i < out.size(); ++i) {
        if (!resource_less(out[i - 1], out[i])) {
            return failed<Result>(
                reader.damaged("resource " + key_text(out[i].type) + "/" + key_text(out[i].name) + " is listed twice"));
        }
    }
    return succeeded(std::move(out));
}

std::vector<uint8_t> write_resources(std::vector<Resource> resources, uint32_t section_rva) {
    std::stable_sort(resources.begin(), resources.end(), resource_less);
    // The tables, breadth first: the root, one per type, one per (type, name);
    // each covers the resources [first, end) of the sorted list.
    struct Table {
        size_t first = 0;
        size_t end = 0;
        int level = 0;  // 0 root, 1 type, 2 name
        size_t offset = 0;
    };
    std::vector<Table> tables{{0, resources.size(), 0, 0}};
    auto same = [&](size_t a, size_t b, int level) {
        return resources[a].type == resources[b].type && (level < 1 || resources[a].name == resources[b].name);
    };
    // Children of a table at `level`: runs of resources that share the next key.
    auto runs = [&](const Table& table) {
        std::vector<std::pair<size_t, size_t>> out;
        for (size_t i = table.first; i < table.end;) {
            size_t j = i + 1;
            while (table.level < 2 && j < table.end && same(i, j, table.level)) ++j;
            out.emplace_back(i, j);
            i = j;
        }
        return out;
    };
    for (size_t t = 0; t < tables.size(); ++t) {
        if (tables[t].level == 2) continue;
        for (const auto& [first, end] : runs(tables[t])) tables.push_back({first, end, tables[t].level + 1, 0});
    }
    size_t size = 0;
    for (Table& table : tables) {
        table.offset = size;
        size += 16 + 8 * runs(table).size();
    }
    const size_t data_entries = size;
    size += 16 * resources.size();
    // Names, each once, in the order of first use.
    std::vector<std::u16string> names;
    std::vector<size_t> name_offsets;
    auto name_offset = [&](const std::u16string& name) {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) return name_offsets[i];
        }
        names.push_back(name);
        name_offsets.push_back(size);
        size += 2 + 2 * name.size();
        return name_offsets.back();
    };
    std::vector<uint8_t> out;
    for (const Resource& r : resources) {
        if (!r.type.name.empty()) name_offset(r.type.name);
    }
    for (const Resource& r : resources) {
        if (!r.name.name.empty()) name_offset(r.name.name);
    }
    size = (size + 7) / 8 * 8;
    std::vector<size_t> data_offsets;
    for (const Resource& r : resources) {
        data_offsets.push_back(size);
        size = (size + r.data.size() + 7) / 8 * 8;
    }
    out.assign(size, 0);
    size_t next_table = 1;
    for (const Table& table : tables) {
        const std::vector<std::pair<size_t, size_t>> children = runs(table);
        size_t named = 0;
        auto key_of = [&](size_t i) -> const ResourceKey* {
            if (table.level == 0) return &resources[i].type;
            if (table.level == 1) return &resources[i].name;
            return nullptr;
        };
        for (const auto& child : children) {
            if (const ResourceKey* k = key_of(child.first); k && !k->name.empty()) ++named;
        }
        set16(out, table.offset + 12, static_cast<uint32_t>(named));
        set16(out, table.offset + 14, static_cast<uint32_t>(children.size() - named));
        for (size_t c = 0; c < children.size(); ++c) {
            const size_t entry = table.offset + 16 + 8 * c;
            const size_t i = children[c].first;
            const ResourceKey* k = key_of(i);
            const uint32_t key_field = k == nullptr ? resources[i].language
                                       : k->name.empty()
                                           ? k->id
                                           : static_cast<uint32_t>(NAME_OR_DIRECTORY | name_offset(k->name));
            set32(out, entry, key_field);
            if (table.level == 2) {
                set32(out, entry + 4, static_cast<uint32_t>(data_entries + 16 * i));
            } else {
                set32(out, entry + 4, static_cast<uint32_t>(NAME_OR_DIRECTORY | tables[next_table++].offset));
            }
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        set16(out, name_offsets[i], static_cast<uint32_t>(names[i].size()));
        for (size_t u = 0; u < names[i].size(); ++u) set16(out, name_offsets[i] + 2 + 2 * u, names[i][u]);
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        const size_t entry = data_entries + 16 * i;
        set32(out, entry, static_cast<uint32_t>(section_rva + data_offsets[i]));
        set32(out, entry + 4, static_cast<uint32_t>(resources[i].data.size()));
        set32(out, entry + 8, resources[i].codepage);
        std::copy(resources[i].data.begin(), resources[i].data.end(), out.begin() + data_offsets[i]);
    }
    return out;
}

Outcome<std::vector<Resource>> changed_resources(std::vector<Resource> resources, const ResourceChanges& changes) {
    using Result = std::vector<Resource>;
    auto foreign = [](const std::string& what) {
        return failed<Result>(invalid_input("the stub carries " + what + ", which the packer does not rewrite"));
    };
    const Resource* group = nullptr;
    for (const Resource& r : resources) {
        const uint32_t type = r.type.id;
        const bool known = r.type.name.empty() &&
                           (type == RT_ICON || type == RT_GROUP_ICON || type == RT_VERSION || type == RT_MANIFEST);
        if (!known) return foreign("a resource of type " + key_text(r.type));
        if (type == RT_GROUP_ICON) {
            if (r.name.name != ICON_GROUP_NAME || group) {
                return foreign("an icon group " + key_text(r.name) + " besides " +
                               utf16_to_utf8_lossy(ICON_GROUP_NAME));
            }
            group = &r;
        }
        if ((type == RT_VERSION || type == RT_ICON) && !r.name.name.empty()) {
            return foreign("a resource named " + key_text(r.name) + " of type " + key_text(r.type));
        }
    }
    if (changes.icon && !group) {
        return failed<Result>(invalid_input("the stub has no icon group " + utf16_to_utf8_lossy(ICON_GROUP_NAME) +
                                            " for --icon to replace"));
    }
    // Every image must belong to the group: those are the ones replaced.
    if (group) {
        std::vector<uint32_t> ids;
        const std::vector<uint8_t>& g = group->data;
        const Bytes view(g.data(), g.size());
        const size_t count = g.size() >= 6 ? read_u16le(view, 4) : 0;
        if (g.size() < 6 || g.size() < 6 + GROUP_ENTRY * count) return foreign("a damaged icon group");
        for (size_t i = 0; i < count; ++i) ids.push_back(read_u16le(view, 6 + GROUP_ENTRY * i + 12));
        for (const Resource& r : resources) {
            if (r.type.id == RT_ICON && std::find(ids.begin(), ids.end(), r.name.id) == ids.end()) {
                return foreign("icon " + key_text(r.name) + ", which belongs to no icon group");
            }
        }
    }
    if (changes.icon) {
        const uint32_t language = group->language;
        const uint32_t codepage = group->codepage;
        std::erase_if(resources, [](const Resource& r) { return r.type.id == RT_ICON || r.type.id == RT_GROUP_ICON; });
        const std::vector<IconImage>& images = *changes.icon;
        for (size_t i = 0; i < images.size(); ++i) {
            resources.push_back(
                Resource{{RT_ICON, {}}, {static_cast<uint32_t>(i + 1), {}}, language, codepage, images[i].data});
        }
        resources.push_back(
            Resource{{RT_GROUP_ICON, {}}, {0, ICON_GROUP_NAME}, language, codepage, icon_group(images, 1)});
    }
    if (changes.version) {
        std::erase_if(resources, [](const Resource& r) { return r.type.id == RT_VERSION; });
        resources.push_back(Resource{{RT_VERSION, {}}, {1, {}}, VERSION_LANGUAGE_ID, 0, *changes.version});
    }
    std::stable_sort(resources.begin(), resources.end(), resource_less);  // in the order they are written and read
    return succeeded(std::move(resources));
}

std::vector<IconSize> icon_sizes(const std::vector<Resource>& resources) {
    std::vector<IconSize> out;
    for (const Resource& group : resources) {
        if (group.type.id != RT_GROUP_ICON || !group.type.name.empty()) continue;
        const Bytes g(group.data.data(), group.data.size());
        const size_t count = g.size() >= 6 ? read_u16le(g, 4) : 0;
        for (size_t i = 0; i < count && 6 + GROUP_ENTRY * (i + 1) <= g.size(); ++i) {
            const size_t at = 6 + GROUP_ENTRY * i;
            const uint32_t id = read_u16le(g, at + 12);
            IconSize size{full_size(g[at]), full_size(g[at + 1]), static_cast<uint16_t>(read_u16le(g, at + 6)), false};
            for (const Resource& image : resources) {
                size.png = size.png || (image.type.id == RT_ICON && image.name.name.empty() && image.name.id == id &&
                                        image.data.size() >= sizeof PNG_SIGNATURE &&
                                        std::memcmp(image.data.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0);
            }
            out.push_back(size);
        }
    }
    return out;
}

std::string icon_size_text(const IconSize& size) {
    return dimensions(size.width, size.height) + " " + std::to_string(size.bits) + "-bit" + (size.png ? " PNG" : "");
}

std::string version_text(const std::array<uint16_t, 4>& parts) {
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}

}  // namespace quillbox::pack
