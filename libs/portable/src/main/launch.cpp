// The platform-free rules of the launch: the program name and the report name.
#include "main/launch.h"

#include "base/text.h"

namespace quillbox {

// The launch path always holds a folder, so no search path is ever consulted.
Outcome<std::u16string> resolve_program(const std::u16string& launch_path, FileExistsFn file_exists,
                                        FullPathFn full_path) {
    bool verbatim = launch_path.rfind(u"\\\\?\\", 0) == 0;
    char16_t last = launch_path.empty() ? u'\0' : launch_path.back();
    if (launch_path.empty() || last == u'\\' || (!verbatim && last == u'/')) {
        return failed<std::u16string>(invalid_input("program path has no file name"));
    }
    if (ends_with_ignoring_ascii_case<char16_t>(launch_path, u".exe"))
        return succeeded(user_path(launch_path, full_path));
    std::u16string with_exe = user_path(launch_path + u".exe", full_path);
    return succeeded(file_exists(with_exe) ? with_exe : user_path(launch_path, full_path));
}

std::string quoted_name(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace quillbox
