// The Win32 side shared by the launcher and the Windows packer: owners for what
// the platform hands out, and the conversions between the portable char16_t text
// and wchar_t. Only files named *_win32.cpp include this.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/error.h"

namespace quillbox {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline std::u16string_view u16(const wchar_t* text) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

// Opens that let others read, write and delete the file meanwhile, as a
// scanner or the running application may.
inline constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A function exported by a loaded module, as the type it is called through;
// null when the module lacks it.
template <class Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A kernel handle; both NULL and INVALID_HANDLE_VALUE mean none, since
// CreateFileW fails with one and the process calls with the other.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // The handle, or NULL when there is none.
    HANDLE get() const { return valid() ? handle_ : nullptr; }
    // Gives the handle up without closing it.
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = h;
    }

private:
    HANDLE handle_ = nullptr;
};

// One owner per release call, for what the platform allocates on the caller's behalf.
struct LocalFreeDeleter {
    void operator()(void* p) const { LocalFree(p); }
};
struct EnvironmentStringsDeleter {
    void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
};
// FindFirstFileExW fails with INVALID_HANDLE_VALUE; open_find turns that into NULL.
struct FindCloseDeleter {
    using pointer = HANDLE;
    void operator()(HANDLE h) const { FindClose(h); }
};

using LocalText = std::unique_ptr<wchar_t, LocalFreeDeleter>;  // FormatMessageW's buffer
using EnvironmentStrings = std::unique_ptr<wchar_t, EnvironmentStringsDeleter>;
using UniqueFind = std::unique_ptr<void, FindCloseDeleter>;

inline UniqueFind open_find(HANDLE h) { return UniqueFind(h == INVALID_HANDLE_VALUE ? nullptr : h); }

static_assert(!std::is_copy_constructible_v<UniqueHandle> && !std::is_copy_assignable_v<UniqueHandle> &&
                  !std::is_copy_constructible_v<LocalText> && !std::is_copy_constructible_v<EnvironmentStrings> &&
                  !std::is_copy_constructible_v<UniqueFind>,
              "an owner copied would be released twice");

// Makes every later DLL load search system32 only, never the launcher's own
// folder, where another download may have left a DLL with a system name.
// Called first thing; a system without the call keeps its default order.
void restrict_dll_search();

// A DLL from system32 only; null with the error in GetLastError when it fails.
HMODULE load_system_library(const wchar_t* name);

// The system's message text for a Win32 error code, trailing white space removed.
std::string system_message(DWORD code);

// An Error for `code` with its kind and the system's text.
Error win32_error(DWORD code);

// GetLastError(), as an Error; call it on the line after the failed call.
Error last_error();

// The grow-the-buffer call: `fill(buffer, size)` returns the units written, or
// at least `size` when the text did not fit (the size it needs, or `size`
// itself for calls that truncate), or 0 when it failed; it is called again
// with more room until the text fits. Nothing when it failed.
template <class Fill>
std::optional<std::u16string> grown_text(const Fill& fill) {
    std::u16string text(MAX_PATH, u'\0');
    for (;;) {
        const DWORD n = fill(reinterpret_cast<wchar_t*>(text.data()), static_cast<DWORD>(text.size()));
        if (n == 0) return std::nullopt;
        if (n < text.size()) {
            text.resize(n);
            return text;
        }
        text.resize(n > text.size() ? n : text.size() * 2);
    }
}

// GetModuleFileNameW for the running program's own executable.
Outcome<std::u16string> own_module_path();

// The same, or an empty text when it fails: what split_command_line takes for
// the program name of an empty command line, in the launcher and the packer.
std::u16string own_module_path_or_empty();

// GetFullPathNameW; nothing when it fails.
std::optional<std::u16string> full_path_name(std::u16string_view path);

// Whether a handle names anything: a process started without a stream has NULL
// or INVALID_HANDLE_VALUE in its place.
inline bool handle_present(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

bool is_console(HANDLE h);

// Every byte to a file or pipe, continuing after partial writes; 0 or the
// error code (a write that takes nothing is a fault, not a reason to loop).
DWORD write_handle(HANDLE h, std::string_view bytes);

// Moves the open file `file` (opened with DELETE access) over `target`, a full
// path, in one step, through the handle rather than by a second open of its
// name: whoever opens the target sees the old file or this one, whole. The
// classic rename, on purpose: a target that is open elsewhere, mapped as a
// running program or library, or read-only is refused and stays as it was.
// 0 or the error code.
DWORD rename_over(HANDLE file, const std::u16string& target);

// Marks the open file (opened with DELETE access) to go when its last handle
// closes, so that a file that could not be finished leaves nothing behind.
bool delete_when_closed(HANDLE file);

// UTF-16 text to a console, which takes no UTF-8 bytes whatever its code page; 0
// or the error code.
DWORD write_console(HANDLE h, std::u16string_view text);

// The user's local application-data folder (%LOCALAPPDATA%), asked of the
// shell, which is loaded from system32 only; nothing when it cannot be found.
// The launcher unpacks under it, the packer keeps its cache there.
std::optional<std::u16string> local_app_data_folder();

// CompareStringOrdinal: <0, 0 or >0; nothing when the call fails.
std::optional<int> compare_ordinal(std::u16string_view a, std::u16string_view b, bool ignore_case);

}  // namespace quillbox
