// The gate for entry names and the launch path, and names as they are shown.
#include "entry_names.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "case_fold.h"
#include "file_system.h"

#include "bin_reader/digest.h"
#include "bin_reader/temporary_name.h"
#include "base/text.h"

namespace quillbox::pack {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The path elements of a name; "." and empty ones (".\x", "a\\b") name nothing.
std::vector<std::string_view> name_parts(std::string_view name) {
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= name.size();) {
        const size_t end = std::min(name.find_first_of("\\/", start), name.size());
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

// CON, NUL, COM1 and the like name devices in every folder, with any extension
// and with spaces before it; COM and LPT take the superscript digits too.
bool is_device_name(std::string_view part) {
    std::string_view stem = part.substr(0, part.find('.'));
    while (stem.ends_with(' ')) stem.remove_suffix(1);
    const std::string lower = ascii_lower(stem);
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (lower == device) return true;
    }
    if (!lower.starts_with("com") && !lower.starts_with("lpt")) return false;
    const std::string_view digit = std::string_view(lower).substr(3);
    if (digit.size() == 1) return digit[0] >= '1' && digit[0] <= '9';
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";  // U+00B9, U+00B2, U+00B3
}

// "NAME~1.EXT": at most eight characters ending in '~' and digits, then at
// most three after one dot.
bool is_short_alias_shape(std::string_view part) {
    const size_t dot = part.find('.');
    const std::string_view base = part.substr(0, dot);
    if (dot != std::string_view::npos) {
        const std::string_view extension = part.substr(dot + 1);
        if (extension.size() > 3 || extension.find('.') != std::string_view::npos) return false;
    }
    const size_t tilde = base.rfind('~');
    if (base.size() > 8 || tilde == std::string_view::npos || tilde == 0 || tilde + 1 == base.size()) return false;
    return std::all_of(base.begin() + tilde + 1, base.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The key under which Windows finds a path: each code unit folded.
std::u16string folded(std::string_view text) {
    std::u16string key = utf8_to_utf16(text);
    for (char16_t& unit : key) unit = fold_case(unit);
    return key;
}

std::string entry_text(std::string_view name) { return "entry name \"" + printable(name) + "\""; }

// A path prefix already met: the first entry that holds it, as spelled there.
struct SeenPrefix {
    size_t entry;
    std::string spelled;
    bool folder;
};

// Why `parts` clash with a prefix of an earlier entry, or nothing. One folder
// shared by several entries, spelled alike, is no clash.
std::optional<std::string> clash(const std::vector<std::string_view>& parts, size_t entry,
                                 const std::vector<std::string_view>& names,
                                 std::map<std::u16string, SeenPrefix>& seen) {
    std::string spelled;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) spelled += '\\';
        spelled += parts[i];
        const bool folder = i + 1 < parts.size();
        const auto [it, inserted] = seen.try_emplace(folded(spelled), SeenPrefix{entry, spelled, folder});
        if (inserted || (folder && it->second.folder && it->second.spelled == spelled)) continue;
        return "is the same " + std::string(folder || it->second.folder ? "folder" : "file") + " on Windows as " +
               entry_text(names[it->second.entry]) + " (\"" + printable(spelled) + "\" and \"" +
               printable(it->second.spelled) + "\")";
    }
    return std::nullopt;
}

// The rule of Windows names that `part` breaks as one path element, or nothing:
// a reserved or control character, a trailing dot or space (dropped), a device
// name with any extension ("nul.txt", "con .txt", "COM\u00b9"), or the shape of
// a short 8.3 alias ("PROGRA~1.EXE"), which can resolve to another entry's long name.
std::optional<std::string> broken_windows_rule(std::string_view part) {
    for (char c : part) {
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
            return "holds a character Windows does not allow in names";
        }
    }
    if (part.ends_with('.') || part.ends_with(' ')) return "ends in a dot or a space, which Windows drops";
    if (is_device_name(part)) return "is a Windows device name";
    if (is_short_alias_shape(part)) return "has the shape of a short 8.3 name, which can stand for another name";
    return std::nullopt;
}

// The rule of entry names that `name` breaks, as the rest of a sentence about
// it ("holds a NUL character"), or nothing: it holds a NUL, is not UTF-8, is
// rooted (which covers network and device paths), holds a ':' (a drive or a
// stream), goes up through "..", names no file, has a part of the form of the
// launcher's temporary files (".quillbox-1-0.tmp", which a later start would
// sweep away), or has a part that Windows cannot hold.
std::optional<std::string> broken_name_rule(std::string_view name) {
    if (name.find('\0') != std::string_view::npos) return "holds a NUL character";
    if (!is_valid_utf8(name)) return "is not valid UTF-8";
    if (!name.empty() && is_separator(name.front())) return "is rooted (a network or device path, or the drive's top)";
    if (name.find(':') != std::string_view::npos) return "holds a ':' (a drive or a stream)";
    const std::vector<std::string_view> parts = name_parts(name);
    if (parts.empty()) return "names no file";
    if (is_separator(name.back()) || name.ends_with("\\.") || name.ends_with("/.")) return "names a folder, not a file";
    for (std::string_view part : parts) {
        if (part == "..") return "leaves the folder through \"..\"";
        // Compared as Windows compares names: such a file is one of the launcher's
        // temporary files to a later start, which deletes it as a leftover.
        if (is_temporary_name(folded(part))) {
            return "has a part \"" + printable(part) + "\" of the form of the launcher's temporary files";
        }
        if (std::optional<std::string> problem = broken_windows_rule(part)) {
            return "has a part \"" + printable(part) + "\" that " + *problem;
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<NameProblem> name_problems(const std::vector<std::string_view>& names) {
    std::vector<NameProblem> problems;
    std::map<std::u16string, SeenPrefix> seen;
    for (size_t i = 0; i < names.size(); ++i) {
        std::optional<std::string> problem = broken_name_rule(names[i]);
        if (!problem) problem = clash(name_parts(names[i]), i, names, seen);
        if (problem) problems.push_back(NameProblem{i, entry_text(names[i]) + " " + *problem});
    }
    return problems;
}

std::optional<Error> check_launch_path(std::string_view exe, const std::vector<std::string_view>& names) {
    const std::string what = "launch path \"" + printable(exe) + "\" ";
    if (std::optional<std::string> broken = broken_name_rule(exe)) return invalid_input(what + *broken);
    std::u16string key;
    for (std::string_view part : name_parts(exe)) key += folded(part) + u'\\';
    for (std::string_view name : names) {
        std::u16string entry_key;
        for (std::string_view part : name_parts(name)) entry_key += folded(part) + u'\\';
        if (entry_key == key) return std::nullopt;
    }
    return invalid_input(what + "names no entry");
}

std::optional<Error> check_names(const std::vector<std::string_view>& names, std::string_view exe) {
    const std::vector<NameProblem> problems = name_problems(names);
    if (!problems.empty()) return invalid_input(problems.front().text);
    return check_launch_path(exe, names);
}

std::filesystem::path relative_unpack_path(std::string_view name) {
    std::filesystem::path relative;
    for (std::string_view part : name_parts(name)) relative /= path_from_text(part);
    return relative;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<uint8_t>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : uint8_t{0};
        if (c < 0x20 || c == 0x7F) {
            out += "\\x" + hex_text(Bytes(&c, 1));
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // C1 controls, e.g. U+009B (CSI)
            out += "\\u00" + hex_text(Bytes(&next, 1));
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace quillbox::pack
