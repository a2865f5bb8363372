// The start mode from the launcher's name and arguments.
#include "main/start_mode.h"

#include <iterator>

#include "base/split.h"
#include "base/text.h"

namespace quillbox {

Outcome<Invocation> invocation_from_words(const std::vector<std::u16string>& words) {
    Utf8Words utf8 = words_as_utf8(words);
    if (utf8.unpaired) {
        const size_t i = *utf8.unpaired;
        return failed<Invocation>(
            invalid_input("argument " + std::to_string(i) + " is not valid Unicode: " + utf16_to_utf8_lossy(words[i])));
    }
    Invocation line;
    if (utf8.words.empty()) return succeeded(std::move(line));
    line.invoked_as = std::move(utf8.words.front());
    line.user_args.assign(std::make_move_iterator(utf8.words.begin() + 1), std::make_move_iterator(utf8.words.end()));
    return succeeded(std::move(line));
}

NameFlags name_flags(const Invocation& line) {
    NameFlags flags;
    if (line.user_args.empty()) {
        flags.install_by_name = ends_with_ignoring_ascii_case<char>(line.invoked_as, "install.exe");
        flags.quick_support_by_name = ends_with_ignoring_ascii_case<char>(line.invoked_as, "qs.exe");
    }
    return flags;
}

bool install_mode(const NameFlags& flags, const std::vector<std::string>& user_args) {
    if (flags.install_by_name) return true;
    for (const std::string& arg : user_args) {
        if (arg == "--silent-install") return true;
    }
    return false;
}

std::vector<std::string> choose_launch_args(const NameFlags& flags, const std::vector<std::string>& user_args) {
    if (flags.install_by_name) return {"--install"};
    if (flags.quick_support_by_name) return {"--quick_support"};
    return user_args;
}

}  // namespace quillbox
