// Text conversions. Messages, entry names and arguments are UTF-8 (std::string)
// inside the launcher and the packer; every path the launcher forms is UTF-16
// (std::u16string) from the entry name it is joined from to the Win32 call, as
// the platform speaks it. UTF-16 is spelled char16_t so that the same code
// means the same thing on Linux, where wchar_t is 32 bits wide.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillbox {

using Bytes = std::span<const uint8_t>;

// The same memory seen as bytes or as text, without a copy.
inline Bytes view_of(std::string_view text) {
    return Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
inline std::string_view text_of(Bytes bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// UTF-8 with each maximal ill-formed subsequence replaced by U+FFFD.
std::string utf8_lossy(Bytes bytes);
std::string utf8_lossy(std::string_view bytes);

// Whether `bytes` are well-formed UTF-8 throughout: what utf8_lossy leaves unchanged.
bool is_valid_utf8(std::string_view bytes);

// UTF-16 to UTF-8; nothing when the text holds an unpaired surrogate.
std::optional<std::string> utf16_to_utf8(std::u16string_view text);

// UTF-16 to UTF-8 with each unpaired surrogate shown as U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view text);

// Valid UTF-8 (as produced by the functions above) to UTF-16.
std::u16string utf8_to_utf16(std::string_view text);

// Whether `text` ends in `suffix`, which is ASCII and lower case, with ASCII
// letters in `text` compared without regard to case. For an ASCII suffix this is
// the answer full Unicode lower-casing would give.
template <class Char>
bool ends_with_ignoring_ascii_case(std::basic_string_view<Char> text, std::basic_string_view<Char> suffix) {
    if (text.size() < suffix.size()) return false;
    text.remove_prefix(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        Char c = text[i];
        if (c >= Char('A') && c <= Char('Z')) c = static_cast<Char>(c - Char('A') + Char('a'));
        if (c != suffix[i]) return false;
    }
    return true;
}

// Whether `a` and `b` are the same text with ASCII letters compared without
// regard to case.
template <class Char>
bool equal_ignoring_ascii_case(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    auto lower = [](Char c) {
        return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
    };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace quillbox
