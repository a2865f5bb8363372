// UTF-8 and UTF-16 conversions, with replacement where the text is ill-formed.
#include "base/text.h"

namespace quillbox {
namespace {

constexpr char REPLACEMENT[] = "\xEF\xBF\xBD";

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Converts UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD, or ends the
// conversion with false when `strict`.
bool convert_utf16(std::u16string_view text, std::string& out, bool strict) {
    out.reserve(out.size() + text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (is_high_surrogate(u) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            char32_t c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            append_utf8(out, c);
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            if (strict) return false;
            out += REPLACEMENT;
        } else {
            append_utf8(out, u);
        }
    }
    return true;
}

}  // namespace

std::string utf8_lossy(Bytes bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        uint8_t b = bytes[i];
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        // Well-formed sequences by their first byte; the second byte's range is
        // narrower for E0, ED, F0 and F4 (no overlongs, surrogates or > U+10FFFF).
        size_t need = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += REPLACEMENT;
            ++i;
            continue;
        }
        // Take continuation bytes while they fit; a break ends a maximal
        // ill-formed subsequence, which becomes one U+FFFD.
        size_t j = i + 1;
        size_t taken = 0;
        while (taken < need && j < n) {
            uint8_t c = bytes[j];
            if (taken == 0 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) break;
            ++j;
            ++taken;
        }
        if (taken == need) {
            out.append(reinterpret_cast<const char*>(bytes.data() + i), j - i);
        } else {
            out += REPLACEMENT;
        }
        i = j;
    }
    return out;
}

std::string utf8_lossy(std::string_view bytes) { return utf8_lossy(view_of(bytes)); }

bool is_valid_utf8(std::string_view bytes) { return utf8_lossy(bytes) == bytes; }

std::optional<std::string> utf16_to_utf8(std::u16string_view text) {
    std::string out;
    if (!convert_utf16(text, out, true)) return std::nullopt;
    return out;
}

std::string utf16_to_utf8_lossy(std::u16string_view text) {
    std::string out;
    convert_utf16(text, out, false);
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<uint8_t>(text[i]);
        char32_t c;
        size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if (b < 0xE0) {
            c = b & 0x1F;
            len = 2;
        } else if (b < 0xF0) {
            c = b & 0x0F;
            len = 3;
        } else {
            c = b & 0x07;
            len = 4;
        }
        for (size_t k = 1; k < len && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        }
        i += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace quillbox
