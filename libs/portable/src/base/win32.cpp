// Win32 helpers shared by every *_win32.cpp file (owners, text, errors, the known folder); no decisions of its own.
#include "base/win32.h"

#include <shlobj.h>
#include <knownfolders.h>

#include <algorithm>
#include <cstddef>

#include "base/text.h"

namespace quillbox {

std::string system_message(DWORD code) {
    wchar_t* allocated = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&allocated), 0, nullptr);
    LocalText buffer(allocated);
    if (length == 0 || buffer == nullptr) return "unknown error " + std::to_string(code);
    std::u16string_view text(reinterpret_cast<const char16_t*>(buffer.get()), length);
    while (!text.empty() &&
           (text.back() == u' ' || text.back() == u'\r' || text.back() == u'\n' || text.back() == u'\t')) {
        text.remove_suffix(1);
    }
    return utf16_to_utf8_lossy(text);
}

Error win32_error(DWORD code) { return os_error(code, system_message(code)); }

Error last_error() { return win32_error(GetLastError()); }

std::optional<std::u16string> full_path_name(std::u16string_view path) {
    const std::u16string input(path);
    return grown_text(
        [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(wide(input), size, buffer, nullptr); });
}

Outcome<std::u16string> own_module_path() {
    std::optional<std::u16string> path =
        grown_text([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
    if (!path) return failed<std::u16string>(last_error());
    return succeeded(std::move(*path));
}

std::u16string own_module_path_or_empty() { return own_module_path().value; }

bool is_console(HANDLE h) {
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

DWORD write_handle(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(h, bytes.data(), chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return 0;
}

DWORD rename_over(HANDLE file, const std::u16string& target) {
    // FILE_RENAME_INFO with the name in place of its one-character array.
    const size_t name_offset = offsetof(FILE_RENAME_INFO, FileName);
    const size_t name_bytes = target.size() * sizeof(char16_t);
    std::unique_ptr<LONGLONG[]> buffer(new LONGLONG[(name_offset + name_bytes + sizeof(char16_t)) / 8 + 1]());
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target.begin(), target.end(), reinterpret_cast<char16_t*>(rename->FileName));
    const auto size = static_cast<DWORD>(name_offset + name_bytes + sizeof(char16_t));
    return SetFileInformationByHandle(file, FileRenameInfo, rename, size) ? 0 : GetLastError();
}

bool delete_when_closed(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

DWORD write_console(HANDLE h, std::u16string_view text) {
    while (!text.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 8192));
        if (!WriteConsoleW(h, text.data(), chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        text.remove_prefix(written);
    }
    return 0;
}

std::optional<int> compare_ordinal(std::u16string_view a, std::u16string_view b, bool ignore_case) {
    const int result = CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                            reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                            ignore_case ? TRUE : FALSE);
    if (result == 0) return std::nullopt;
    return result - CSTR_EQUAL;
}

void restrict_dll_search() {
    // Looked up rather than imported: Windows 7 has it only with an update, and
    // an import it lacks would stop the launcher from loading at all.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto set_default =
        exported<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (set_default != nullptr) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE load_system_library(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A system without the search flags: name the file in system32 instead.
    std::u16string path(MAX_PATH, u'\0');
    UINT n = GetSystemDirectoryW(wide(path), static_cast<UINT>(path.size()));
    if (n == 0 || n >= path.size()) return nullptr;
    path.resize(n);
    path += u'\\';
    path += u16(name);
    return LoadLibraryExW(wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::optional<std::u16string> local_app_data_folder() {
    // Shell and COM come from system32 by name, not through the import table,
    // so that nothing they pull in is looked for beside the program. If either
    // cannot be loaded the lookup has failed like any other: the folder is not
    // found, which the caller reports. Both stay loaded for the life of the
    // process: unloading shell32 once it has registered callbacks of its own is
    // a known hazard, and there is nothing to gain. COM comes first: under
    // 32-bit Wine its image covers the preferred places of two libraries that
    // shell32 brings in, and loaded after them it is moved, which copies about
    // 0.7 MiB of its code into private memory at every start.
    using GetKnownFolderPathFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    using FreeTaskMemoryFn = void(WINAPI*)(void*);
    HMODULE ole32 = load_system_library(L"ole32.dll");
    HMODULE shell32 = load_system_library(L"shell32.dll");
    if (shell32 == nullptr || ole32 == nullptr) return std::nullopt;
    auto get_known_folder_path = exported<GetKnownFolderPathFn>(shell32, "SHGetKnownFolderPath");
    auto free_task_memory = exported<FreeTaskMemoryFn>(ole32, "CoTaskMemFree");
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
    return std::u16string(u16(folder.text));
}

}  // namespace quillbox
