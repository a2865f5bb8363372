#include <shlobj.h>
#include <knownfolders.h>

#include <memory>
#include <vector>

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

// Creates `path` and every missing folder above it; an existing folder is
// success. Climbs to the nearest folder that exists, then creates downwards,
// holding only the lengths of the missing prefixes.
bool create_folders(const std::u16string& path) {
    std::vector<size_t> missing;  // prefix lengths, deepest first
    for (size_t length = path.size(); length > 0;) {
        const std::u16string target = fs_path(path.substr(0, length));
        if (CreateDirectoryW(wide(target), nullptr)) break;
        if (GetLastError() != ERROR_PATH_NOT_FOUND) {
            if (!is_folder(target)) return false;
            break;
        }
        missing.push_back(length);
        std::optional<std::u16string> parent = holding_folder(std::u16string_view(path).substr(0, length));
        if (!parent) return false;
        length = parent->size();  // the holding folder is a prefix of the path
    }
    for (auto length = missing.rbegin(); length != missing.rend(); ++length) {
        const std::u16string target = fs_path(path.substr(0, *length));
        if (!CreateDirectoryW(wide(target), nullptr) && !is_folder(target)) return false;
    }
    return true;
}

// The digest text of the file at `path` (already in its file-system form), read
// into `block` piece by piece; a failure to open or read it is the result.
Outcome<std::string> md5_hex_of_file(const std::u16string& path, std::span<uint8_t> block) {
    UniqueHandle file(CreateFileW(wide(path), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failed<std::string>(last_error());
    return md5_hex_of_blocks([&](std::span<uint8_t> into) {
        Outcome<size_t> out;
        DWORD got = 0;
        if (!ReadFile(file.get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr)) {
            return failed<size_t>(last_error());
        }
        out.value = got;
        return out;
    }, block);
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
            if (!WriteFile(file.get(), rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
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

// One item of the tree in install mode, opened once without following it: what
// it is, its listing and its deletion all go through this handle, so swapping
// it for a link after the check changes nothing.
struct OpenItem {
    UniqueHandle handle;
    DWORD attributes = 0;
    DWORD reparse_tag = 0;
};

// Declared by the headers only for Windows 10 targets; systems before it refuse
// the class and the classic disposition takes over.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DISPOSITION_DELETE = 0x1;
constexpr DWORD DISPOSITION_POSIX_SEMANTICS = 0x2;
constexpr DWORD DISPOSITION_IGNORE_READONLY = 0x10;
struct DispositionInfoEx {
    DWORD flags;
};

constexpr DWORD ITEM_FLAGS = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD ITEM_ACCESS = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY;
// Enough to delete a file the user may not read or change.
constexpr DWORD ITEM_ACCESS_LEAST = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
constexpr DWORD TAG_UNKNOWN_LINK = 0xA0000000;  // taken as a link: never entered

// 0 once `item` holds the open item, else the error of the last attempt.
DWORD open_item(const std::u16string& path, OpenItem& item) {
    for (int attempt = 1;; ++attempt) {
        HANDLE h = CreateFileW(wide(path), ITEM_ACCESS, SHARE_ALL, nullptr, OPEN_EXISTING, ITEM_FLAGS, nullptr);
        DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (error == ERROR_ACCESS_DENIED) {
            h = CreateFileW(wide(path), ITEM_ACCESS_LEAST, SHARE_ALL, nullptr, OPEN_EXISTING, ITEM_FLAGS, nullptr);
            error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        }
        if (error == 0) {
            item.handle = UniqueHandle(h);
            break;
        }
        if (!worth_retrying(error) || attempt == REMOVE_ATTEMPTS) return error;
        SwitchToThread();
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(item.handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        item.attributes = tag.FileAttributes;
        item.reparse_tag = tag.ReparseTag;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info{};  // systems without the tag query
    if (!GetFileInformationByHandle(item.handle.get(), &info)) return GetLastError();
    item.attributes = info.dwFileAttributes;
    item.reparse_tag = TAG_UNKNOWN_LINK;
    return 0;
}

// Where the file system really has an open item, or nothing when it cannot say.
std::optional<std::u16string> final_path(HANDLE item) {
    std::u16string out(MAX_PATH, u'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(item, wide(out), static_cast<DWORD>(out.size()), 0);
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

// Whether the item stands where it was named: under the folder whose final
// path is `folder_final` (resolved the same way, links above both followed).
// Wine shows a Unix symbolic link as a plain folder that lives elsewhere.
bool where_named(HANDLE item, const std::optional<std::u16string>& folder_final, std::u16string_view name) {
    if (!folder_final) return true;
    std::optional<std::u16string> item_final = final_path(item);
    return !item_final || same_path(*item_final, child_path(*folder_final, name));
}

// The names in an open folder, "." and ".." left out; false when listing fails.
bool list_folder(HANDLE folder, std::vector<std::u16string>& names) {
    constexpr size_t BUFFER_BYTES = 64 * 1024;
    std::unique_ptr<LONGLONG[]> buffer(new LONGLONG[BUFFER_BYTES / sizeof(LONGLONG)]);  // entries are 8-aligned
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.get(), BUFFER_BYTES)) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        const auto* at = reinterpret_cast<const uint8_t*>(buffer.get());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            std::u16string_view name(reinterpret_cast<const char16_t*>(entry->FileName),
                                     entry->FileNameLength / sizeof(char16_t));
            if (name != u"." && name != u"..") names.emplace_back(name);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

bool clear_read_only(const OpenItem& item) {
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = item.attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(item.handle.get(), FileBasicInfo, &basic, sizeof basic);
}

// Marks the item for deletion: at once, ignoring the read-only attribute, where
// the system has POSIX semantics; otherwise when the handle closes, after
// clearing read-only. 0 or the error.
DWORD mark_for_deletion(const OpenItem& item) {
    DispositionInfoEx posix{DISPOSITION_DELETE | DISPOSITION_POSIX_SEMANTICS | DISPOSITION_IGNORE_READONLY};
    if (SetFileInformationByHandle(item.handle.get(), FILE_DISPOSITION_INFO_EX_CLASS, &posix, sizeof posix)) return 0;
    FILE_DISPOSITION_INFO classic{TRUE};
    if (SetFileInformationByHandle(item.handle.get(), FileDispositionInfo, &classic, sizeof classic)) return 0;
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && (item.attributes & FILE_ATTRIBUTE_READONLY) && clear_read_only(item)) {
        if (SetFileInformationByHandle(item.handle.get(), FileDispositionInfo, &classic, sizeof classic)) return 0;
        error = GetLastError();
    }
    return error;
}

// Deletes an open item, retrying while it is in use or its folder still holds
// items pending deletion. The deletion is complete once the handle closes.
bool delete_item(OpenItem item) {
    for (int attempt = 1;; ++attempt) {
        DWORD error = mark_for_deletion(item);
        if (error == 0) return true;
        if (!worth_retrying(error) || attempt == REMOVE_ATTEMPTS) return false;
        SwitchToThread();
    }
}

// A folder being emptied: its handle, its path and final path, and the names
// still to remove.
struct FolderLevel {
    OpenItem folder;
    std::u16string path;
    std::optional<std::u16string> final;
    std::vector<std::u16string> names;
    size_t next = 0;
};

// Bottom-up removal of the real folder `root`, already open. Links are deleted
// as links and never entered. Stops at the first item that will not go. A
// stack rather than recursion: depth is bounded only by the path length.
bool remove_tree(OpenItem root, const std::u16string& root_path) {
    std::vector<FolderLevel> levels;
    auto enter = [&levels](OpenItem folder, std::u16string path) {
        FolderLevel level{std::move(folder), std::move(path), std::nullopt, {}, 0};
        level.final = final_path(level.folder.handle.get());
        if (!list_folder(level.folder.handle.get(), level.names)) return false;
        levels.push_back(std::move(level));
        return true;
    };
    if (!enter(std::move(root), root_path)) return false;
    while (!levels.empty()) {
        FolderLevel& top = levels.back();
        if (top.next == top.names.size()) {
            OpenItem folder = std::move(top.folder);
            levels.pop_back();
            if (!delete_item(std::move(folder))) return false;
            continue;
        }
        const std::u16string& name = top.names[top.next++];
        std::u16string path = child_path(top.path, name);
        OpenItem item;
        DWORD error = open_item(path, item);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;  // gone meanwhile
        if (error != 0) return false;
        bool stays_put = where_named(item.handle.get(), top.final, name);
        if (removal_step(item.attributes, item.reparse_tag, stays_put) == RemovalStep::enter) {
            if (!enter(std::move(item), std::move(path))) return false;
        } else if (!delete_item(std::move(item))) {
            return false;
        }
    }
    return true;
}

// Final path of the folder holding `path`, links on the way followed, so that
// it compares with an item's own final path (whose ancestors are resolved).
std::optional<std::u16string> resolved_holder(const std::u16string& path) {
    std::optional<std::u16string> holder = holding_folder(path);
    if (!holder) return std::nullopt;
    UniqueHandle folder(CreateFileW(wide(*holder), 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
    if (!folder.valid()) return std::nullopt;
    return final_path(folder.get());
}

void remove_app_dir(const std::u16string& app_dir) {
    // Extended-length from the start, so that no item deep inside meets the
    // classic path limit and stops the removal.
    std::optional<std::u16string> root = extended_path(app_dir, full_path_name);
    if (!root) return;
    OpenItem item;
    if (open_item(*root, item) != 0 || !(item.attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    std::optional<std::u16string> root_name = file_name(*root);
    bool stays_put = !root_name || where_named(item.handle.get(), resolved_holder(*root), *root_name);
    if (removal_step(item.attributes, item.reparse_tag, stays_put) == RemovalStep::enter) {
        remove_tree(std::move(item), *root);
    } else {
        delete_item(std::move(item));  // a linked folder goes as a link
    }
}

}  // namespace

std::optional<std::u16string> find_app_dir() {
    // Shell and COM come from system32 by name, not through the import table,
    // so that nothing they pull in is looked for beside the launcher. If either
    // cannot be loaded the lookup has failed like any other: the folder is not
    // found, which the caller reports.
    using GetKnownFolderPathFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    using FreeTaskMemoryFn = void(WINAPI*)(void*);
    UniqueModule shell32(load_system_library(L"shell32.dll"));
    UniqueModule ole32(load_system_library(L"ole32.dll"));
    if (!shell32 || !ole32) return std::nullopt;
    auto get_known_folder_path = reinterpret_cast<GetKnownFolderPathFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell32.get(), "SHGetKnownFolderPath")));
    auto free_task_memory = reinterpret_cast<FreeTaskMemoryFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(ole32.get(), "CoTaskMemFree")));
    if (get_known_folder_path == nullptr || free_task_memory == nullptr) return std::nullopt;

    // The folder text's owner, released through the CoTaskMemFree loaded above.
    struct TaskMemText {
        FreeTaskMemoryFn free;
        wchar_t* text = nullptr;
        explicit TaskMemText(FreeTaskMemoryFn release) : free(release) {}
        TaskMemText(const TaskMemText&) = delete;
        TaskMemText& operator=(const TaskMemText&) = delete;
        ~TaskMemText() { free(text); }
    } folder(free_task_memory);
    HRESULT result = get_known_folder_path(FOLDERID_LocalAppData, 0, nullptr, &folder.text);
    if (result != S_OK || folder.text == nullptr) return std::nullopt;
    return path_join(u16(folder.text), APP_DIR_NAME);
}

void unpack_entry(std::u16string_view app_dir, const BinEntry& entry, std::span<uint8_t> digest_block,
                  SpareBlocks& spare) {
    const std::u16string target = path_join(app_dir, utf8_to_utf16(entry.name));

    if (std::optional<std::u16string> holder = holding_folder(target)) {
        if (!path_exists(fs_path(*holder))) create_folders(*holder);
    }

    const std::u16string on_file_system = fs_path(target);
    std::optional<std::string> on_disk;
    if (path_exists(on_file_system)) {
        Outcome<std::string> hashed = md5_hex_of_file(on_file_system, digest_block);
        if (!hashed.ok()) {
            fatal_stop("failed to read \"" + utf16_to_utf8_lossy(target) + "\": " + describe(*hashed.error));
        }
        on_disk = std::move(hashed.value);
    }
    EntryPlan plan = plan_entry(entry, target, on_disk);
    for (const std::string& line : plan.lines) print_line(Stream::out, line);
    if (plan.action == EntryAction::skip) return;

    ChunkedBytes content = entry.decompress(spare);
    write_whole_file(on_file_system, content);
    give_back(std::move(content), spare);
}

std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode) {
    std::optional<std::u16string> app_dir = find_app_dir();
    if (!app_dir) {
        print_line(Stream::err, "not found data local dir");
        return std::nullopt;
    }
    if (install_mode) remove_app_dir(*app_dir);
    // Allocated once: under Wine a fresh 256 KiB block per file cost about 0.5 ms
    // each, more than hashing a small file.
    const std::unique_ptr<uint8_t[]> digest_block(new uint8_t[DIGEST_BLOCK_SIZE]);
    const std::span<uint8_t> block(digest_block.get(), DIGEST_BLOCK_SIZE);
    // Likewise the decoded blocks: under Wine a cold start that decoded each
    // entry into fresh ones spent about 0.1 s on 31 MiB of new pages.
    SpareBlocks spare;
    for (const BinEntry& entry : reader.files) unpack_entry(*app_dir, entry, block, spare);
    return path_join(*app_dir, utf8_to_utf16(reader.exe));
}

}  // namespace quillbox
