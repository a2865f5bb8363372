#include "main/start_mode.h"

#include "main/text.h"

namespace quillbox {
namespace {

// The suffixes are ASCII, so comparing the last bytes without regard to ASCII
// case gives the same answer as full Unicode lower-casing would.
bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    std::string_view tail = text.substr(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

}  // namespace

Outcome<CommandLine> command_line_from_words(const std::vector<std::u16string>& words) {
    Outcome<CommandLine> line;
    for (size_t i = 0; i < words.size(); ++i) {
        auto text = utf16_to_utf8(words[i]);
        if (!text) {
            return failed<CommandLine>(
                invalid_input("argument " + std::to_string(i) + " is not valid Unicode: " +
                              utf16_to_utf8_lossy(words[i])));
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
        flags.install_by_name = ends_with_ignoring_ascii_case(line.invoked_as, "install.exe");
        flags.quick_support_by_name = ends_with_ignoring_ascii_case(line.invoked_as, "qs.exe");
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

std::vector<std::string> choose_launch_args(const NameFlags& flags,
                                            const std::vector<std::string>& user_args) {
    if (flags.install_by_name) return {"--install"};
    if (flags.quick_support_by_name) return {"--quick_support"};
    return user_args;
}

}  // namespace quillbox
