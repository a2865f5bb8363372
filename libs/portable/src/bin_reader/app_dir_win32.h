// The per-user folder the application lives in: where it is, and emptying it
// for install mode, and sweeping it of what killed starts left (Win32 only,
// app_dir_win32.cpp).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "bin_reader/replace.h"

namespace quillbox {

inline constexpr char16_t APP_DIR_NAME[] = u"quillbox";

// %LOCALAPPDATA%\quillbox, or nothing when the known folder cannot be found.
std::optional<std::u16string> find_app_dir();

// Deletes the folder and everything in it, bottom-up, links as links, without
// a word. An item that will not go (held by another process, the running
// application's exe) is passed by at once and the rest goes all the same, so
// the folder keeps only what is still held; a folder whose items all went but
// are still pending deletion is waited for within `budget`.
void remove_app_dir(const std::u16string& app_dir, WaitBudget& budget);

// Deletes the files directly in `folder` whose names `is_leftover` picks, each
// opened through the folder's handle and deleted through its own, links as
// links. One that another process holds open is left alone at once, not
// waited for: a live launcher's temporary file is opened without delete
// sharing for as long as it is in flight. Failures are ignored.
void remove_leftovers(const std::u16string& folder, const std::function<bool(std::u16string_view)>& is_leftover);

}  // namespace quillbox
