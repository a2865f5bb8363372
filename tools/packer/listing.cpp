// The text and JSON listings of a payload or a launcher (listing.h).
#include "listing.h"

#include <cstdio>
#include <string_view>

#include "entry_names.h"
#include "exit_code_setting.h"

#include "bin_reader/digest.h"

namespace quillbox::pack {
namespace {

std::string json_escape(unsigned char c) {
    switch (c) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\b': return "\\b";
        case '\f': return "\\f";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        default: break;
    }
    if (c >= 0x20) return std::string(1, static_cast<char>(c));
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    return escaped;
}

// `text` as a JSON string, quotes included: UTF-8 passes as it is; quotes,
// backslashes and control characters are escaped; ill-formed UTF-8 becomes
// U+FFFD, since a JSON document must be UTF-8 throughout.
std::string json_string(std::string_view text) {
    const std::string valid = is_valid_utf8(text) ? std::string(text) : utf8_lossy(text);
    std::string out = "\"";
    for (const char c : valid) out += json_escape(static_cast<unsigned char>(c));
    return out + "\"";
}

// `items` as a JSON array, one item a line, the closing bracket at `indent`.
std::string array_json(const std::vector<std::string>& items, std::string_view indent = "  ") {
    if (items.empty()) return "[]";
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i) out += items[i] + (i + 1 < items.size() ? ",\n" : "\n");
    return out + std::string(indent) + "]";
}

std::string entry_json(const BinEntry& entry, const std::optional<uint64_t>& plain_size) {
    return "    {\"name\": " + json_string(entry.name) + ", \"compressed_size\": " + std::to_string(entry.data.size()) +
           ", \"plain_size\": " + (plain_size ? std::to_string(*plain_size) : "null") +
           ", \"md5\": " + json_string(digest_text(entry.md5)) + "}";
}

std::string icon_json(const IconSize& size) {
    return "    {\"width\": " + std::to_string(size.width) + ", \"height\": " + std::to_string(size.height) +
           ", \"bits\": " + std::to_string(size.bits) + ", \"png\": " + (size.png ? "true" : "false") + "}";
}

std::string strings_json(const std::vector<std::pair<std::string, std::string>>& strings, const char* indent) {
    std::string out = "{";
    for (size_t i = 0; i < strings.size(); ++i) {
        out += std::string(i == 0 ? "\n" : ",\n") + indent + "  " + json_string(strings[i].first) + ": " +
               json_string(strings[i].second);
    }
    return out + (strings.empty() ? "}" : std::string("\n") + indent + "}");
}

// "strings" holds the table the system shows (the default one, else the
// first); "tables" every table by its name.
std::string version_json(const VersionInfo& info) {
    const VersionTable none;
    const VersionTable* shown = info.tables.empty() ? &none : &info.tables.front();
    for (const VersionTable& table : info.tables) {
        if (table.language == VERSION_LANGUAGE) shown = &table;
    }
    std::vector<std::string> tables;
    for (const VersionTable& table : info.tables) {
        tables.push_back("      {\"language\": " + json_string(table.language) +
                         ", \"strings\": " + strings_json(table.strings, "      ") + "}");
    }
    return "{\n    \"file_version\": " + json_string(version_text(info.file_version)) +
           ",\n    \"product_version\": " + json_string(version_text(info.product_version)) +
           ",\n    \"strings\": " + strings_json(shown->strings, "    ") +
           ",\n    \"tables\": " + array_json(tables, "    ") + "\n  }";
}

std::string launcher_text(const LauncherFacts& launcher) {
    std::string out = "exit code: " + std::string(exit_code_mode_name(launcher.exit_code)) + "\n";
    if (!launcher.icon.empty()) {
        out += "icon " + utf16_to_utf8_lossy(ICON_GROUP_NAME) + ":";
        for (size_t i = 0; i < launcher.icon.size(); ++i)
            out += (i == 0 ? " " : ", ") + icon_size_text(launcher.icon[i]);
        out += "\n";
    }
    for (const VersionInfo& info : launcher.versions) {
        out += "version " + version_text(info.file_version) + ", product version " +
               version_text(info.product_version) + "\n";
        // A table other than the default one is named before each of its strings.
        for (const VersionTable& table : info.tables) {
            const std::string prefix = table.language == VERSION_LANGUAGE ? "" : printable(table.language) + " ";
            for (const auto& [key, value] : table.strings)
                out += "version string " + prefix + printable(key) + ": " + printable(value) + "\n";
        }
    }
    return out;
}

}  // namespace

std::string listing_text(const Listing& listing) {
    std::string out;
    const std::vector<BinEntry>& files = listing.reader.files;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::optional<uint64_t>& plain = listing.plain_sizes[i];
        out += printable(files[i].name) + "\t" + std::to_string(files[i].data.size()) + "\t" +
               (plain ? std::to_string(*plain) : "?") + "\t" + printable(digest_text(files[i].md5)) + "\n";
    }
    out += "launch path: " + printable(listing.reader.exe) + "\n";
    return listing.launcher ? out + launcher_text(*listing.launcher) : out;
}

std::string listing_json(const Listing& listing) {
    std::vector<std::string> entries;
    for (size_t i = 0; i < listing.reader.files.size(); ++i) {
        entries.push_back(entry_json(listing.reader.files[i], listing.plain_sizes[i]));
    }
    std::vector<std::string> images;
    std::string version = "null";
    std::string exit_code = "null";
    if (listing.launcher) {
        exit_code = json_string(exit_code_mode_name(listing.launcher->exit_code));
        for (const IconSize& size : listing.launcher->icon) images.push_back(icon_json(size));
        if (!listing.launcher->versions.empty()) version = version_json(listing.launcher->versions.front());
    }
    return "{\n  \"launcher\": " + std::string(listing.launcher ? "true" : "false") +
           ",\n  \"launch_path\": " + json_string(listing.reader.exe) + ",\n  \"entries\": " + array_json(entries) +
           ",\n  \"icon\": " + array_json(images) + ",\n  \"version\": " + version +
           ",\n  \"exit_code\": " + exit_code + "\n}\n";
}

}  // namespace quillbox::pack
