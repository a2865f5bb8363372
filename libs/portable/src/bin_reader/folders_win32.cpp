// Win32 side of making folders; where a path's holding folder ends is decided in path.h.
#include "bin_reader/folders_win32.h"

#include <vector>

#include "bin_reader/path.h"

#include "base/win32.h"

namespace quillbox {
namespace {

bool is_folder(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FoldersMade failure(DWORD error, size_t length) { return FoldersMade{error, length, false}; }

}  // namespace

FoldersMade create_folders(std::u16string_view path, FileSystemFormFn on_file_system) {
    std::vector<size_t> missing;  // prefix lengths, deepest first
    for (size_t length = path.size(); length > 0;) {
        const std::u16string target = on_file_system(path.substr(0, length));
        if (CreateDirectoryW(wide(target), nullptr)) {
            if (length == path.size()) return FoldersMade{0, 0, true};
            break;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_PATH_NOT_FOUND) {
            if (!is_folder(target)) return failure(code, length);
            if (length == path.size()) return FoldersMade{};
            break;
        }
        missing.push_back(length);
        std::optional<std::u16string> parent = holding_folder(path.substr(0, length));
        if (!parent) return failure(code, length);
        length = parent->size();  // the holding folder is a prefix of the path
    }
    FoldersMade made;
    for (auto length = missing.rbegin(); length != missing.rend(); ++length) {
        const std::u16string target = on_file_system(path.substr(0, *length));
        made.created = CreateDirectoryW(wide(target), nullptr) != 0;
        const DWORD code = made.created ? 0 : GetLastError();
        if (!made.created && !is_folder(target)) return failure(code, *length);
    }
    return made;
}

}  // namespace quillbox
