// The version block (VS_VERSIONINFO): nested records of length, value length,
// type, key and value, written for --version, --version-string and
// --version-from and read back for `list` and from other programs.
#include "version_block.h"

#include <algorithm>

#include "base/bytes.h"

namespace quillbox::pack {
namespace {

constexpr size_t VERSION_BLOCK_LIMIT = 0xFFFF;

void pad_to(std::vector<uint8_t>& out, size_t alignment) {
    out.resize((out.size() + alignment - 1) / alignment * alignment, 0);
}

void put_text(std::vector<uint8_t>& out, std::u16string_view text) {
    for (char16_t unit : text) put_u16le(out, unit);
    put_u16le(out, 0);
}

// Starts a record and returns where its length goes; the caller appends the
// value and children, then closes it.
size_t open_record(std::vector<uint8_t>& out, std::u16string_view key, uint32_t value_length, uint32_t type) {
    pad_to(out, 4);
    const size_t start = out.size();
    put_u16le(out, 0);
    put_u16le(out, value_length);
    put_u16le(out, type);
    put_text(out, key);
    pad_to(out, 4);
    return start;
}

void close_record(std::vector<uint8_t>& out, size_t start) { set_u16le(out, start, out.size() - start); }

uint32_t high(const std::array<uint16_t, 4>& v) { return (uint32_t{v[0]} << 16) | v[1]; }
uint32_t low(const std::array<uint16_t, 4>& v) { return (uint32_t{v[2]} << 16) | v[3]; }

}  // namespace

bool same_version_key(std::string_view a, std::string_view b) { return equal_ignoring_ascii_case<char>(a, b); }

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
    put_u32le(out, 0xFEEF04BD);  // the fixed part's signature
    put_u32le(out, 0x00010000);  // its structure version
    put_u32le(out, high(info.file_version));
    put_u32le(out, low(info.file_version));
    put_u32le(out, high(info.product_version));
    put_u32le(out, low(info.product_version));
    put_u32le(out, info.flags_mask);
    put_u32le(out, info.flags);
    put_u32le(out, 0x40004);  // VOS_NT_WINDOWS32
    put_u32le(out, 1);        // VFT_APP
    put_u32le(out, 0);        // subtype
    put_u32le(out, 0);        // date: none, so the same input gives the same bytes
    put_u32le(out, 0);
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
            put_u16le(out, pair.language);
            put_u16le(out, pair.codepage);
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

std::string version_text(const std::array<uint16_t, 4>& parts) {
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}

}  // namespace quillbox::pack
