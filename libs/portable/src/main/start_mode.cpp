#include "main/start_mode.h"

#include "base/text.h"

namespace quillbox {

Outcome<CommandLine> command_line_from_words(const std::vector<std::u16string>& words) {
    Outcome<CommandLine> line;
    for (size_t i = 0; i < words.size(); ++i) {
        auto text = utf16_to_utf8(words[i]);
        if (!text) {
            return failed<CommandLine>(invalid_input("argument " + std::to_string(i) +
                                                     " is not valid Unicode: " + utf16_to_utf8_lossy(words[i])));
        }
        if (i == 0) {
            line.value.invoked_as = std::move(*text);
        } else {
            line.value.user_args.push_back(std::move(*text));
        }
    }
    return line;
}

NameFlags name_flags(const CommandLine& line) {
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
