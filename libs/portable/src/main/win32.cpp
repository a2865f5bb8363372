// Win32 helpers shared by every *_win32.cpp file (owners, text, errors); no decisions of its own.
#include "main/win32.h"

#include "main/text.h"

namespace quillbox {

std::string system_message(DWORD code) {
    wchar_t* allocated = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&allocated), 0, nullptr);
    LocalText buffer(allocated);
    if (length == 0 || buffer == nullptr) return "unknown error " + std::to_string(code);
    std::u16string_view text(reinterpret_cast<const char16_t*>(buffer.get()), length);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\r' || text.back() == u'\n' || text.back() == u'\t')) {
        text.remove_suffix(1);
    }
    return utf16_to_utf8_lossy(text);
}

Error win32_error(DWORD code) { return os_error(code, system_message(code)); }

Error last_error() { return win32_error(GetLastError()); }

std::optional<std::u16string> full_path_name(std::u16string_view path) {
    std::u16string input(path);
    std::u16string out(MAX_PATH, u'\0');
    for (;;) {
        DWORD n = GetFullPathNameW(wide(input), static_cast<DWORD>(out.size()), wide(out), nullptr);
        if (n == 0) return std::nullopt;
        if (n < out.size()) {
            out.resize(n);
            return out;
        }
        out.resize(n);  // n includes the NUL when the buffer was too small
    }
}


Outcome<std::u16string> own_module_path() {
    Outcome<std::u16string> path;
    path.value.resize(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, wide(path.value), static_cast<DWORD>(path.value.size()));
        if (n == 0) return failed<std::u16string>(last_error());
        if (n < path.value.size()) {
            path.value.resize(n);
            return path;
        }
        path.value.resize(path.value.size() * 2);  // truncated: again with more room
    }
}

void restrict_dll_search() {
    // Looked up rather than imported: Windows 7 has it only with an update, and
    // an import it lacks would stop the launcher from loading at all.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
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

}  // namespace quillbox
