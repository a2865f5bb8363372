// Command-line splitting on arbitrary UTF-16 text, then the conversion of the
// words, which must reject exactly the words with unpaired surrogates.
#include <string>

#include "main/command_line.h"
#include "main/start_mode.h"

static std::u16string module_path() { return u"C:\\q.exe"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    text = text.substr(0, text.find(u'\0'));  // the platform hands over text up to its NUL
    auto words = quillbox::split_command_line(text, module_path);
    if (words.empty()) __builtin_trap();
    for (const auto& word : words) {
        if (word.size() > text.size() && !text.empty()) __builtin_trap();
    }
    (void)quillbox::command_line_from_words(words);
    return 0;
}
