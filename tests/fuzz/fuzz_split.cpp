// Command-line splitting on arbitrary UTF-16 text, then the conversion of the
// words, which must reject exactly the words with unpaired surrogates.
#include <string>

#include "base/split.h"
#include "main/start_mode.h"
#include "base/text.h"

static std::u16string module_path() { return u"C:\\q.exe"; }

// Written out here rather than taken from the converter under test.
static bool has_unpaired_surrogate(const std::u16string& word) {
    for (size_t i = 0; i < word.size(); ++i) {
        const bool high = word[i] >= 0xD800 && word[i] <= 0xDBFF;
        const bool low = word[i] >= 0xDC00 && word[i] <= 0xDFFF;
        if (high && i + 1 < word.size() && word[i + 1] >= 0xDC00 && word[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            return true;
        }
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    text = text.substr(0, text.find(u'\0'));  // the platform hands over text up to its NUL
    auto words = quillbox::split_command_line(text, module_path);
    if (words.empty()) __builtin_trap();
    for (const auto& word : words) {
        if (word.size() > text.size() && !text.empty()) __builtin_trap();
    }
    bool any_unpaired = false;
    for (const auto& word : words) any_unpaired = any_unpaired || has_unpaired_surrogate(word);
    auto line = quillbox::invocation_from_words(words);
    if (line.ok() == any_unpaired) __builtin_trap();
    if (line.ok()) {
        // Accepted words come back unchanged once converted to UTF-8.
        if (quillbox::utf8_to_utf16(line.value.invoked_as) != words[0]) __builtin_trap();
        for (size_t i = 0; i < line.value.user_args.size(); ++i) {
            if (quillbox::utf8_to_utf16(line.value.user_args[i]) != words[i + 1]) __builtin_trap();
        }
    }
    return 0;
}
