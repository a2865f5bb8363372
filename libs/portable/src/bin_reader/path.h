// Windows path text, joined and split as the platform's path rules say, never
// normalised: a ".\" element stays in every path the launcher forms or prints.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillbox {

// GetFullPathNameW on Windows; nothing when it fails.
using FullPathFn = std::optional<std::u16string> (*)(std::u16string_view);

// A relative name goes after one '\' (none when the folder ends in '\' or '/',
// or is a bare drive); a rooted name without drive keeps the folder's drive; a
// name with a drive or network prefix replaces the folder.
std::u16string path_join(std::u16string_view folder, std::u16string_view name);

// The path without its last component ("." parts and trailing separators do not
// count); nothing for a root alone or a path without components.
std::optional<std::u16string> holding_folder(std::u16string_view path);

// The final component of a path; nothing when it ends in ".." or is a root alone.
std::optional<std::u16string> file_name(std::u16string_view path);

// The form handed to file-system calls: short drive, UNC or device (\\.\)
// paths and those in extended or NT form (\\?\, \??\) unchanged, anything else
// made absolute with the \\?\ (or \\?\UNC\) prefix so that paths of 248 units
// or more work; a device path takes the \\?\ prefix in place of its own.
std::u16string file_system_path(std::u16string_view path, FullPathFn full_path);

// The form handed to CreateProcessW: as file_system_path, but the prefix is
// dropped again when the path fits in 260 units and normalises to itself.
std::u16string user_path(std::u16string_view path, FullPathFn full_path);

// The absolute extended-length form (\\?\ or \\?\UNC\) whatever the length, so
// that every path formed from it by child_path stays usable past 260 units; a
// device path (\\.\) takes it as file_system_path gives it, and one in extended
// or NT form (\??\) stays as it is. Nothing when the full path cannot be formed
// or has no such form.
std::optional<std::u16string> extended_path(std::u16string_view path, FullPathFn full_path);

// `name` (one component, as the file system lists it) under `folder`, with one
// '\' between them; the extended-length prefix of `folder` carries over.
std::u16string child_path(std::u16string_view folder, std::u16string_view name);

}  // namespace quillbox
