#include <shlobj.h>
#include <knownfolders.h>

#include "bin_reader/digest.h"
#include "bin_reader/extract.h"
#include "bin_reader/path.h"
#include "main/console.h"
#include "main/fatal.h"
#include "main/win32.h"

namespace quillbox {
namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int REMOVE_ATTEMPTS = 10;

std::u16string fs_path(std::u16string_view path) { return file_system_path(path, full_path_name); }

// Follows links, as the existence test must: a dangling link counts as absent.
bool path_exists(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    UniqueHandle target(CreateFileW(wide(path), 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return target.valid();
}

bool is_folder(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates `path` and every missing folder above it; an existing folder is success.
bool create_folders(const std::u16string& path) {
    if (path.empty()) return true;
    std::u16string target = fs_path(path);
    if (CreateDirectoryW(wide(target), nullptr)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        std::optional<std::u16string> parent = holding_folder(path);
        if (!parent || !create_folders(*parent)) return false;
        if (CreateDirectoryW(wide(target), nullptr)) return true;
    }
    return is_folder(target);
}

// The digest text of the file at `path` (already in its file-system form), read
// in blocks; a failure to open or read it is the result.
Outcome<std::string> md5_hex_of_file(const std::u16string& path) {
    UniqueHandle file(CreateFileW(wide(path), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failed<std::string>(last_error());
    return md5_hex_of_blocks([&](std::span<uint8_t> into) {
        Outcome<size_t> out;
        DWORD got = 0;
        if (!ReadFile(file.handle, into.data(), static_cast<DWORD>(into.size()), &got, nullptr)) {
            return failed<size_t>(last_error());
        }
        out.value = got;
        return out;
    });
}

// Create-always and write everything; every failure is ignored by design, and a
// short file is repaired by the digest test of the next run.
void write_whole_file(const std::u16string& path, const ChunkedBytes& content) {
    UniqueHandle file(CreateFileW(wide(path), GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return;
    for (const ByteBuffer& chunk : content.chunks) {
        for (Bytes rest = chunk.view(); !rest.empty();) {
            DWORD written = 0;
            if (!WriteFile(file.handle, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
                written == 0) {
                return;
            }
            rest = rest.subspan(written);
        }
    }
}

bool worth_retrying(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_DELETE_PENDING || error == ERROR_DIR_NOT_EMPTY;
}

// Deletes one file, link or empty folder, retrying while it is in use or
// pending deletion; a read-only file loses the attribute so it can go.
bool delete_item(const std::u16string& path, bool folder) {
    for (int attempt = 0; attempt < REMOVE_ATTEMPTS; ++attempt) {
        if (folder ? RemoveDirectoryW(wide(path)) : DeleteFileW(wide(path))) return true;
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesW(wide(path));
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesW(wide(path), attributes & ~FILE_ATTRIBUTE_READONLY);
            continue;
        }
        if (!worth_retrying(error)) return false;
        SwitchToThread();
    }
    return false;
}

// Where the file system really has a folder, or nothing when it cannot say.
std::optional<std::u16string> final_path(const std::u16string& path) {
    UniqueHandle folder(CreateFileW(wide(path), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.valid()) return std::nullopt;
    std::u16string out(MAX_PATH, u'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(folder.handle, wide(out), static_cast<DWORD>(out.size()), 0);
        if (n == 0) return std::nullopt;
        if (n < out.size()) {
            out.resize(n);
            return out;
        }
        out.resize(n);
    }
}

bool same_path(const std::u16string& a, const std::u16string& b) {
    return CompareStringOrdinal(wide(a), static_cast<int>(a.size()), wide(b), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// A folder that the platform does not flag as a link but that lives somewhere
// other than inside its parent: Wine shows Unix symbolic links this way. It must
// not be entered, or the removal would empty a folder outside app_dir.
bool reached_through_hidden_link(const std::optional<std::u16string>& parent_final, const std::u16string& child,
                                 std::u16string_view name) {
    if (!parent_final) return false;
    std::optional<std::u16string> child_final = final_path(child);
    return child_final && !same_path(*child_final, *parent_final + u"\\" + std::u16string(name));
}

// Bottom-up removal of a folder tree. Links (symbolic links, junctions) are
// deleted as links and never entered. Stops at the first item that will not go.
bool remove_tree(const std::u16string& folder) {
    struct FindOwner {
        HANDLE handle = INVALID_HANDLE_VALUE;
        ~FindOwner() {
            if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
        }
    } find;
    WIN32_FIND_DATAW item{};
    const std::optional<std::u16string> folder_final = final_path(folder);
    std::u16string pattern = folder + u"\\*";
    find.handle = FindFirstFileExW(wide(pattern), FindExInfoBasic, &item, FindExSearchNameMatch, nullptr, 0);
    if (find.handle != INVALID_HANDLE_VALUE) {
        do {
            std::u16string_view name = u16(item.cFileName);
            if (name == u"." || name == u"..") continue;
            std::u16string child = folder + u"\\" + std::u16string(name);
            bool is_folder = item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            bool is_link = (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                           (is_folder && reached_through_hidden_link(folder_final, child, name));
            bool removed = is_folder && !is_link ? remove_tree(child) : delete_item(child, is_folder);
            if (!removed) return false;
        } while (FindNextFileW(find.handle, &item));
    }
    return delete_item(folder, true);
}

void remove_app_dir(const std::u16string& app_dir) {
    std::u16string root = file_system_path(app_dir, full_path_name);
    DWORD attributes = GetFileAttributesW(wide(root));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    std::optional<std::u16string> parent = holding_folder(root);
    std::optional<std::u16string> root_name = file_name(root);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (parent && root_name && reached_through_hidden_link(final_path(*parent), root, *root_name))) {
        delete_item(root, true);  // a linked folder goes as a link
        return;
    }
    remove_tree(root);
}

}  // namespace

std::optional<std::u16string> find_app_dir() {
    struct CoTaskMemOwner {
        wchar_t* text = nullptr;
        ~CoTaskMemOwner() { CoTaskMemFree(text); }
    } folder;
    HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder.text);
    if (result != S_OK || folder.text == nullptr) return std::nullopt;
    return path_join(u16(folder.text), APP_DIR_NAME);
}

void unpack_entry(std::u16string_view app_dir, const BinEntry& entry) {
    const std::u16string target = path_join(app_dir, utf8_to_utf16(entry.name));

    if (std::optional<std::u16string> holder = holding_folder(target)) {
        if (!path_exists(fs_path(*holder))) create_folders(*holder);
    }

    const std::u16string on_file_system = fs_path(target);
    if (path_exists(on_file_system)) {
        Outcome<std::string> hashed = md5_hex_of_file(on_file_system);
        if (!hashed.ok()) {
            fatal_stop("failed to read \"" + utf16_to_utf8_lossy(target) + "\": " + describe(*hashed.error));
        }
        const std::string& on_disk = hashed.value;
        std::string stored = digest_text(entry.md5);
        if (stored == on_disk) {
            print_line(Stream::out, "skip " + entry.name);
            return;
        }
        print_line(Stream::out, "writing " + utf16_to_utf8_lossy(target));
        print_line(Stream::out, stored + " -> " + on_disk);
    }

    const ChunkedBytes content = entry.decompress();
    write_whole_file(on_file_system, content);
}

std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode) {
    std::optional<std::u16string> app_dir = find_app_dir();
    if (!app_dir) {
        print_line(Stream::err, "not found data local dir");
        return std::nullopt;
    }
    if (install_mode) remove_app_dir(*app_dir);
    for (const BinEntry& entry : reader.files) unpack_entry(*app_dir, entry);
    return path_join(*app_dir, utf8_to_utf16(reader.exe));
}

}  // namespace quillbox
