// The per-user folder the application lives in: where it is, and emptying it
// for install mode (Win32 only, app_dir_win32.cpp).
#pragma once

#include <optional>
#include <string>

namespace quillbox {

inline constexpr char16_t APP_DIR_NAME[] = u"quillbox";

// %LOCALAPPDATA%\quillbox, or nothing when the known folder cannot be found.
std::optional<std::u16string> find_app_dir();

// Deletes the folder and everything in it, bottom-up, links as links; stops
// without a word at the first item that will not go.
void remove_app_dir(const std::u16string& app_dir);

}  // namespace quillbox
