// Quoting followed by splitting gives every argument back. The input is cut
// into arguments at 0xFFFF units; each argument's units are taken as they come.
#include <string>
#include <vector>

#include "base/split.h"
#include "main/start_mode.h"
#include "base/text.h"

static std::u16string module_path() { return u"C:\\q.exe"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::u16string current;
    bool any = false;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        any = true;
        if (unit == 0xFFFF) {
            args.push_back(quillbox::utf16_to_utf8_lossy(current));
            current.clear();
        } else if (unit != 0) {
            current += unit;
        }
    }
    if (any) args.push_back(quillbox::utf16_to_utf8_lossy(current));

    const std::u16string path = u"C:\\Users\\me\\AppData\\Local\\quillbox\\.\\quillbox.exe";
    auto line = quillbox::build_command_line(path, args);
    if (!line.ok()) __builtin_trap();
    auto words = quillbox::invocation_from_words(quillbox::split_command_line(line.value, module_path));
    if (!words.ok() || words.value.invoked_as != *quillbox::utf16_to_utf8(path) || words.value.user_args != args) {
        __builtin_trap();
    }
    return 0;
}
