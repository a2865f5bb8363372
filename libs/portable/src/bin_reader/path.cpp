// Windows path text joined and split by the platform's rules, never normalised.
#include "bin_reader/path.h"

namespace quillbox {
namespace {

constexpr std::u16string_view VERBATIM = u"\\\\?\\";
constexpr std::u16string_view VERBATIM_UNC = u"\\\\?\\UNC\\";
constexpr std::u16string_view NT_OBJECT = u"\\??\\";
constexpr std::u16string_view DEVICE = u"\\\\.\\";
constexpr size_t LEGACY_MAX_PATH = 248;  // CreateDirectoryW's limit, NUL included
constexpr size_t MAX_PATH_UNITS = 260;

// Whether `c` separates path elements: '\' always, '/' too except in a
// verbatim (\\?\) path, which reaches the file system as it stands.
bool is_separator(char16_t c, bool verbatim) { return c == u'\\' || (!verbatim && c == u'/'); }
bool is_ascii_letter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool has_drive(std::u16string_view p) { return p.size() >= 2 && is_ascii_letter(p[0]) && p[1] == u':'; }

// Index of the first separator at or after `from` (only '\' counts in verbatim paths).
size_t next_sep(std::u16string_view p, size_t from, bool verbatim) {
    for (size_t i = from; i < p.size(); ++i) {
        if (is_separator(p[i], verbatim)) return i;
    }
    return p.size();
}

struct Prefix {
    size_t length = 0;  // 0: no prefix
    bool verbatim = false;
    bool network = false;  // UNC: has a root of its own
};

Prefix parse_prefix(std::u16string_view p) {
    if (starts_with(p, VERBATIM)) {
        if (starts_with(p, VERBATIM_UNC)) {
            size_t server_end = next_sep(p, VERBATIM_UNC.size(), true);
            size_t share_end = next_sep(p, std::min(server_end + 1, p.size()), true);
            return {share_end, true, true};
        }
        std::u16string_view rest = p.substr(VERBATIM.size());
        if (has_drive(rest)) return {VERBATIM.size() + 2, true, false};
        return {next_sep(p, VERBATIM.size(), true), true, false};
    }
    if (p.size() >= 2 && is_separator(p[0], false) && is_separator(p[1], false)) {
        if (p.size() >= 4 && p[2] == u'.' && is_separator(p[3], false)) return {next_sep(p, 4, false), false, false};
        size_t server_end = next_sep(p, 2, false);
        size_t share_end = next_sep(p, std::min(server_end + 1, p.size()), false);
        return {share_end, false, true};
    }
    if (has_drive(p)) return {2, false, false};
    return {};
}

// Where the components of `p` begin: after the prefix and its root separator.
size_t body_start(std::u16string_view p, const Prefix& prefix) {
    size_t i = prefix.length;
    if (i < p.size() && is_separator(p[i], prefix.verbatim)) ++i;
    return i;
}

// Drops trailing separators and "." components, never below `floor`.
size_t trim_right(std::u16string_view p, size_t end, size_t floor, bool verbatim) {
    for (;;) {
        while (end > floor && is_separator(p[end - 1], verbatim)) --end;
        bool dot = end > floor && p[end - 1] == u'.' && (end - 1 == floor || is_separator(p[end - 2], verbatim));
        if (!dot) return end;
        --end;
    }
}

// Where the last component of a path stands, once trailing separators and "."
// parts are set aside; nothing when the path has no component after its root.
struct LastComponent {
    size_t floor;  // where components begin
    size_t start;
    size_t end;
    bool verbatim;
};

std::optional<LastComponent> last_component(std::u16string_view path) {
    Prefix prefix = parse_prefix(path);
    size_t floor = body_start(path, prefix);
    size_t end = trim_right(path, path.size(), floor, prefix.verbatim);
    if (end == floor) return std::nullopt;
    size_t start = end;
    while (start > floor && !is_separator(path[start - 1], prefix.verbatim)) --start;
    return LastComponent{floor, start, end, prefix.verbatim};
}

// The verbatim form of a full path, the one rule for every path the launcher
// and the packer hand on past MAX_PATH. A device path (\\.\) differs from its
// verbatim twin only in being normalised and length-checked; the full path
// has been normalised already, so it takes the verbatim prefix too.
std::u16string with_verbatim_prefix(std::u16string_view absolute) {
    if (absolute.size() >= 3 && absolute[1] == u':' && absolute[2] == u'\\') {
        return std::u16string(VERBATIM) + std::u16string(absolute);
    }
    if (starts_with(absolute, DEVICE)) return std::u16string(VERBATIM) + std::u16string(absolute.substr(DEVICE.size()));
    if (starts_with(absolute, VERBATIM) || starts_with(absolute, NT_OBJECT)) return std::u16string(absolute);
    if (starts_with(absolute, u"\\\\")) return std::u16string(VERBATIM_UNC) + std::u16string(absolute.substr(2));
    return std::u16string(absolute);
}

bool short_and_absolute(std::u16string_view p) {
    if (p.size() + 1 >= LEGACY_MAX_PATH) return false;
    bool drive_rooted = p.size() >= 3 && !is_separator(p[0], false) && p[1] == u':' && is_separator(p[2], false);
    bool double_sep = p.size() >= 2 && is_separator(p[0], false) && is_separator(p[1], false);
    return drive_rooted || double_sep;
}

}  // namespace

std::u16string path_join(std::u16string_view folder, std::u16string_view name) {
    Prefix name_prefix = parse_prefix(name);
    if (name_prefix.length > 0) return std::u16string(name);
    if (!name.empty() && is_separator(name[0], false)) {
        std::u16string joined(folder.substr(0, parse_prefix(folder).length));
        joined += name;
        return joined;
    }
    Prefix folder_prefix = parse_prefix(folder);
    bool bare_drive = folder_prefix.length == folder.size() && folder.size() == 2 && has_drive(folder);
    bool need_sep = !folder.empty() && !is_separator(folder.back(), folder_prefix.verbatim) && !bare_drive;
    std::u16string joined(folder);
    if (need_sep) joined += u'\\';
    joined += name;
    return joined;
}

std::optional<std::u16string> holding_folder(std::u16string_view path) {
    std::optional<LastComponent> last = last_component(path);
    if (!last) return std::nullopt;
    return std::u16string(path.substr(0, trim_right(path, last->start, last->floor, last->verbatim)));
}

std::u16string file_system_path(std::u16string_view path, FullPathFn full_path) {
    if (path.empty() || starts_with(path, VERBATIM) || starts_with(path, NT_OBJECT) || short_and_absolute(path)) {
        return std::u16string(path);
    }
    std::optional<std::u16string> absolute = full_path(path);
    if (!absolute) return std::u16string(path);  // the call that uses it reports the failure
    return with_verbatim_prefix(*absolute);
}

std::optional<std::u16string> extended_path(std::u16string_view path, FullPathFn full_path) {
    if (starts_with(path, VERBATIM) || starts_with(path, NT_OBJECT)) return std::u16string(path);
    if (path.empty()) return std::nullopt;
    std::optional<std::u16string> absolute = full_path(path);
    if (!absolute) return std::nullopt;
    std::u16string extended = with_verbatim_prefix(*absolute);
    if (!starts_with(extended, VERBATIM)) return std::nullopt;
    return extended;
}

std::u16string child_path(std::u16string_view folder, std::u16string_view name) {
    std::u16string child(folder);
    if (child.empty() || child.back() != u'\\') child += u'\\';
    child += name;
    return child;
}

std::u16string user_path(std::u16string_view path, FullPathFn full_path) {
    std::u16string result = file_system_path(path, full_path);
    if (result.size() + 1 > MAX_PATH_UNITS || !starts_with(result, VERBATIM)) return result;
    std::u16string plain;
    if (starts_with(result, VERBATIM_UNC)) {
        plain = u"\\\\" + result.substr(VERBATIM_UNC.size());
    } else if (result.size() >= 7 && result[5] == u':' && result[6] == u'\\') {
        plain = result.substr(VERBATIM.size());
    } else {
        return result;
    }
    std::optional<std::u16string> normalised = full_path(plain);
    return normalised && *normalised == plain ? plain : result;
}

std::optional<std::u16string> file_name(std::u16string_view path) {
    std::optional<LastComponent> last = last_component(path);
    if (!last) return std::nullopt;
    std::u16string_view name = path.substr(last->start, last->end - last->start);
    if (name == u"..") return std::nullopt;
    return std::u16string(name);
}

}  // namespace quillbox
