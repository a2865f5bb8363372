// Making a folder and the folders above it, for the launcher's unpacking and
// the Windows packer's output and cache alike (folders_win32.cpp); the path
// rules it climbs by are in path.h.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quillbox {

// The form of a path handed to the file-system calls (file_system_path, or the
// packer's always-extended form).
using FileSystemFormFn = std::u16string (*)(std::u16string_view);

struct FoldersMade {
    DWORD error = 0;           // 0, or why the folder ending at `failed_length` could not be made
    size_t failed_length = 0;  // that folder, as a prefix of the path asked for
    bool created = false;      // the path itself was made by this call, and is empty
};

// Creates `path` and every missing folder above it; an existing folder is
// success, whoever made it. Climbs to the nearest folder that exists, then
// creates downwards, holding only the lengths of the missing prefixes. Each
// prefix reaches the system in the form `on_file_system` gives it.
FoldersMade create_folders(std::u16string_view path, FileSystemFormFn on_file_system);

}  // namespace quillbox
