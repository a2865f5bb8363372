// Minimal JSON output for the test programs: every non-ASCII UTF-16 unit is
// written as \uXXXX, so even an unpaired surrogate reaches the test intact.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

inline void json_string(std::string& out, const wchar_t* text, size_t length) {
    out += '"';
    for (size_t i = 0; i < length; ++i) {
        unsigned u = static_cast<unsigned short>(text[i]);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            char escape[8];
            wsprintfA(escape, "\\u%04x", u);
            out += escape;
        }
    }
    out += '"';
}

inline void json_string(std::string& out, const std::wstring& text) { json_string(out, text.data(), text.size()); }

inline void json_list(std::string& out, const std::vector<std::wstring>& items) {
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        json_string(out, items[i]);
    }
    out += ']';
}
