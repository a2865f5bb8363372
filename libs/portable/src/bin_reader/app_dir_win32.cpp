// Win32 side of the per-user folder: finding it, emptying it for install mode
// and sweeping it of leftovers; the decisions the removal takes are in
// removal.h, which names are leftovers in extract.h.
#include <winternl.h>

#include <memory>
#include <vector>

#include "bin_reader/app_dir_win32.h"

#include "bin_reader/path.h"
#include "bin_reader/removal.h"
#include "bin_reader/replace_win32.h"

#include "base/win32.h"

namespace quillbox {
namespace {

// The ntdll calls the removal needs, resolved at run time: the import table
// stays KERNEL32 and the C runtime, and ntdll is in every process already.
using NtOpenFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
using NtStatusToWin32Fn = ULONG(NTAPI*)(NTSTATUS);
using LastNtStatusFn = NTSTATUS(NTAPI*)();
struct NtCalls {
    NtOpenFileFn open_file = nullptr;
    NtStatusToWin32Fn to_win32 = nullptr;
    LastNtStatusFn last_status = nullptr;
};

std::optional<NtCalls> resolve_nt_calls() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    NtCalls nt{exported<NtOpenFileFn>(ntdll, "NtOpenFile"), exported<NtStatusToWin32Fn>(ntdll, "RtlNtStatusToDosError"),
               exported<LastNtStatusFn>(ntdll, "RtlGetLastNtStatus")};
    if (!nt.open_file || !nt.to_win32 || !nt.last_status) return std::nullopt;
    return nt;
}

// A failed step as both layers report it: the Win32 code alone cannot tell an
// item pending deletion from one the user may not touch. {0, 0} is success.
struct Failure {
    DWORD error = 0;
    NTSTATUS status = 0;
    bool failed() const { return error != 0; }
};

Failure last_failure(const NtCalls& nt) {
    DWORD error = GetLastError();
    return {error, nt.last_status()};
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
struct DispositionInfoEx {
    DWORD flags;
};

constexpr DWORD ITEM_FLAGS = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD TAG_UNKNOWN_LINK = 0xA0000000;  // taken as a link: never entered
// NtOpenFile's equivalents of ITEM_FLAGS, plus the synchronous I/O that the
// handle's later calls expect, as CreateFileW would ask for.
constexpr ULONG OPTION_SYNCHRONOUS_IO = 0x00000020;      // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG OPTION_BACKUP_INTENT = 0x00004000;       // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG OPTION_OPEN_REPARSE_POINT = 0x00200000;  // FILE_OPEN_REPARSE_POINT
constexpr ULONG OBJECT_CASE_INSENSITIVE = 0x00000040;    // OBJ_CASE_INSENSITIVE

// What the item is: its attributes and, for a reparse point, its tag.
Failure describe_item(OpenItem& item, const NtCalls& nt) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(item.handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        item.attributes = tag.FileAttributes;
        item.reparse_tag = tag.ReparseTag;
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};  // systems without the tag query
    if (!GetFileInformationByHandle(item.handle.get(), &info)) return last_failure(nt);
    item.attributes = info.dwFileAttributes;
    item.reparse_tag = TAG_UNKNOWN_LINK;
    return {};
}

// The folder to empty, by its whole path: the one path the removal resolves.
// One that another process holds without delete sharing (its current folder)
// is opened for listing only, and emptied all the same.
Failure open_root(const std::u16string& path, OpenItem& item, const NtCalls& nt) {
    auto open_with = [&](DWORD access) {
        item.handle =
            UniqueHandle(CreateFileW(wide(path), access, SHARE_ALL, nullptr, OPEN_EXISTING, ITEM_FLAGS, nullptr));
        return item.handle.valid() ? Failure{} : last_failure(nt);
    };
    Failure failure = open_with(removal_access(true));
    if (failure.error == ERROR_SHARING_VIOLATION) failure = open_with(removal_access(true) & ~DELETE);
    return failure.failed() ? failure : describe_item(item, nt);
}

// The item called `name` in the open folder `parent`, opened relative to the
// parent's handle: no path is resolved again from the top, so a folder above
// that is renamed and replaced by a link meanwhile cannot send the open
// elsewhere, and the item itself is opened as what it is, a link included.
// `folder` (from the listing) adds the access that emptying a folder needs; a
// held folder is opened for listing only, as the root is. One attempt: what
// another process holds is passed by, not waited for.
Failure open_child(HANDLE parent, const std::u16string& name, bool folder, OpenItem& item, const NtCalls& nt) {
    UNICODE_STRING object_name{};
    object_name.Buffer = const_cast<wchar_t*>(wide(name));
    object_name.Length = object_name.MaximumLength = static_cast<USHORT>(name.size() * sizeof(char16_t));
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = parent;
    attributes.ObjectName = &object_name;
    attributes.Attributes = OBJECT_CASE_INSENSITIVE;
    auto open_with = [&](ACCESS_MASK access) {
        HANDLE h = nullptr;
        IO_STATUS_BLOCK io{};
        NTSTATUS status = nt.open_file(&h, access, &attributes, &io, SHARE_ALL,
                                       OPTION_SYNCHRONOUS_IO | OPTION_BACKUP_INTENT | OPTION_OPEN_REPARSE_POINT);
        if (status < 0) return Failure{nt.to_win32(status), status};
        item.handle = UniqueHandle(h);
        return Failure{};
    };
    Failure failure = open_with(removal_access(folder));
    if (folder && failure.error == ERROR_SHARING_VIOLATION) failure = open_with(removal_access(true) & ~DELETE);
    return failure.failed() ? failure : describe_item(item, nt);
}

// Where the file system really has an open item, or nothing when it cannot say.
std::optional<std::u16string> final_path(HANDLE item) {
    return grown_text([&](wchar_t* buffer, DWORD size) { return GetFinalPathNameByHandleW(item, buffer, size, 0); });
}

bool same_path(const std::u16string& a, const std::u16string& b) { return compare_ordinal(a, b, true) == 0; }

// Whether the item stands where it was named: under the folder whose final
// path is `folder_final` (resolved the same way, links above both followed).
// Wine shows a Unix symbolic link as a plain folder that lives elsewhere.
bool where_named(HANDLE item, const std::optional<std::u16string>& folder_final, std::u16string_view name) {
    if (!folder_final) return true;
    std::optional<std::u16string> item_final = final_path(item);
    return !item_final || same_path(*item_final, child_path(*folder_final, name));
}

// One name in a folder's listing, with what the listing says it is.
struct Listed {
    std::u16string name;
    bool folder = false;
};

// The items in an open folder, "." and ".." left out; false when listing fails.
bool list_folder(HANDLE folder, std::vector<Listed>& items) {
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
            if (name != u"." && name != u"..") {
                items.push_back({std::u16string(name), (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
            }
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

// The classic deletion of a read-only item, which refuses it: a second handle
// to the same item (never reopened by name) with the right to change its
// attributes clears read-only and marks it.
Failure delete_read_only(const OpenItem& item, const NtCalls& nt) {
    const bool folder = item.attributes & FILE_ATTRIBUTE_DIRECTORY;
    UniqueHandle writable(
        ReOpenFile(item.handle.get(), removal_access(folder) | FILE_WRITE_ATTRIBUTES, SHARE_ALL, ITEM_FLAGS));
    if (!writable.valid()) return last_failure(nt);
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = item.attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    FILE_DISPOSITION_INFO classic{TRUE};
    if (!SetFileInformationByHandle(writable.get(), FileBasicInfo, &basic, sizeof basic) ||
        !SetFileInformationByHandle(writable.get(), FileDispositionInfo, &classic, sizeof classic)) {
        return last_failure(nt);
    }
    return {};
}

// Marks the item for deletion: at once, ignoring the read-only attribute, where
// the system has POSIX semantics; otherwise when the handle closes.
Failure mark_for_deletion(const OpenItem& item, const NtCalls& nt) {
    DispositionInfoEx posix{POSIX_DELETE_FLAGS};
    if (SetFileInformationByHandle(item.handle.get(), FILE_DISPOSITION_INFO_EX_CLASS, &posix, sizeof posix)) return {};
    FILE_DISPOSITION_INFO classic{TRUE};
    if (SetFileInformationByHandle(item.handle.get(), FileDispositionInfo, &classic, sizeof classic)) return {};
    Failure failure = last_failure(nt);
    if (failure.error == ERROR_ACCESS_DENIED && (item.attributes & FILE_ATTRIBUTE_READONLY)) {
        return delete_read_only(item, nt);
    }
    return failure;
}

// Deletes an open item; the deletion is complete once the handle closes. Only
// a folder `emptied` of everything it listed is tried again, with pauses from
// the start's budget, while it still holds items pending deletion.
bool delete_item(OpenItem item, const NtCalls& nt, WaitBudget& budget, bool emptied) {
    for (int attempt = 1;; ++attempt) {
        const Failure failure = mark_for_deletion(item, nt);
        if (!failure.failed()) return true;
        switch (after_removal_failure(failure.error, emptied)) {
            case RemovalOutcome::gone: return true;
            case RemovalOutcome::pass_by: return false;
            case RemovalOutcome::wait: break;
        }
        if (!pause_before_next(budget, attempt)) return false;
    }
}

// A folder being emptied: its handle and final path, the items still to
// remove, and whether any of them stayed.
struct FolderLevel {
    OpenItem folder;
    std::optional<std::u16string> final;
    std::vector<Listed> items;
    size_t next = 0;
    bool kept_any = false;
};

// Bottom-up removal of the real folder `root`, already open. Each item is
// opened relative to its folder's handle; links are deleted as links and never
// entered. An item that will not go is passed by, and so is each folder above
// it; the removal ends early only at an item found outside the folder. A stack
// rather than recursion: depth is bounded only by the path length.
void remove_tree(OpenItem root, const NtCalls& nt, WaitBudget& budget) {
    std::vector<FolderLevel> levels;
    auto enter = [&levels](OpenItem folder) {
        FolderLevel level{std::move(folder), std::nullopt, {}, 0, false};
        level.final = final_path(level.folder.handle.get());
        if (!list_folder(level.folder.handle.get(), level.items)) return false;
        levels.push_back(std::move(level));
        return true;
    };
    if (!enter(std::move(root))) return;
    while (!levels.empty()) {
        FolderLevel& top = levels.back();
        if (top.next == top.items.size()) {
            OpenItem folder = std::move(top.folder);
            const bool emptied = !top.kept_any;
            levels.pop_back();
            if (!delete_item(std::move(folder), nt, budget, emptied) && !levels.empty()) levels.back().kept_any = true;
            continue;
        }
        const size_t depth = levels.size() - 1;  // `top` moves when a level is pushed
        const Listed& listed = top.items[top.next++];
        OpenItem item;
        if (const Failure failure = open_child(top.folder.handle.get(), listed.name, listed.folder, item, nt);
            failure.failed()) {
            if (after_removal_failure(failure.error, false) != RemovalOutcome::gone) top.kept_any = true;
            continue;
        }
        bool went = true;
        switch (
            removal_step(item.attributes, item.reparse_tag, where_named(item.handle.get(), top.final, listed.name))) {
            case RemovalStep::enter: went = enter(std::move(item)); break;
            case RemovalStep::delete_alone: went = delete_item(std::move(item), nt, budget, true); break;
            case RemovalStep::stop: return;
        }
        if (!went) levels[depth].kept_any = true;
    }
}

// Final path of the folder holding `path`, links on the way followed, so that
// it compares with an item's own final path (whose ancestors are resolved).
std::optional<std::u16string> resolved_holder(const std::u16string& path) {
    std::optional<std::u16string> holder = holding_folder(path);
    if (!holder) return std::nullopt;
    UniqueHandle folder(
        CreateFileW(wide(*holder), 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) return std::nullopt;
    return final_path(folder.get());
}

}  // namespace

void remove_app_dir(const std::u16string& app_dir, WaitBudget& budget) {
    std::optional<NtCalls> nt = resolve_nt_calls();
    // Extended-length, so that the root's own path may exceed the classic limit.
    std::optional<std::u16string> root = extended_path(app_dir, full_path_name);
    if (!nt || !root) return;
    OpenItem item;
    if (open_root(*root, item, *nt).failed() || !(item.attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    std::optional<std::u16string> root_name = file_name(*root);
    bool stays_put = !root_name || where_named(item.handle.get(), resolved_holder(*root), *root_name);
    switch (removal_step(item.attributes, item.reparse_tag, stays_put)) {
        case RemovalStep::enter: remove_tree(std::move(item), *nt, budget); break;
        case RemovalStep::delete_alone:
            delete_item(std::move(item), *nt, budget, true);  // a linked folder goes as a link
            break;
        case RemovalStep::stop: break;
    }
}

void remove_leftovers(const std::u16string& folder, const std::function<bool(std::u16string_view)>& is_leftover) {
    std::optional<NtCalls> nt = resolve_nt_calls();
    std::optional<std::u16string> path = extended_path(folder, full_path_name);
    if (!nt || !path) return;
    UniqueHandle listed_folder(CreateFileW(wide(*path), FILE_LIST_DIRECTORY | SYNCHRONIZE, SHARE_ALL, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::vector<Listed> items;
    if (!listed_folder.valid()) return;
    list_folder(listed_folder.get(), items);  // what a failed listing gave is swept all the same
    for (const Listed& listed : items) {
        if (listed.folder || !is_leftover(listed.name)) continue;
        OpenItem item;
        if (open_child(listed_folder.get(), listed.name, false, item, *nt).failed()) continue;  // in flight
        if (!(item.attributes & FILE_ATTRIBUTE_DIRECTORY)) mark_for_deletion(item, *nt);
    }
}

std::optional<std::u16string> find_app_dir() {
    std::optional<std::u16string> folder = local_app_data_folder();
    if (!folder) return std::nullopt;
    return path_join(*folder, APP_DIR_NAME);
}

}  // namespace quillbox
