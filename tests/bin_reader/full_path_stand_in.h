// Stands in for GetFullPathNameW in tests of the path rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillbox::testing {

// Relative paths land under C:\cwd, and "\.\" parts vanish (a device prefix, \\.\, stays).
inline std::optional<std::u16string> fake_full_path(std::u16string_view path) {
    std::u16string full(path);
    bool absolute = (full.size() >= 3 && full[1] == u':' && full[2] == u'\\') || full.rfind(u"\\\\", 0) == 0;
    if (!absolute) full = u"C:\\cwd\\" + full;
    const size_t from = full.rfind(u"\\\\.\\", 0) == 0 ? 3 : 0;
    for (size_t at; (at = full.find(u"\\.\\", from)) != std::u16string::npos;) full.erase(at, 2);
    return full;
}

}  // namespace quillbox::testing
