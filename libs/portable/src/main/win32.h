// The Win32 side of the launcher: owners for what the platform hands out, and
// the conversions between the portable char16_t text and wchar_t. Only files
// named *_win32.cpp include this.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "main/error.h"

namespace quillbox {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline std::u16string_view u16(const wchar_t* text) { return std::u16string_view(reinterpret_cast<const char16_t*>(text)); }

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

using LocalText = std::unique_ptr<wchar_t, LocalFreeDeleter>;          // FormatMessageW's buffer
using EnvironmentStrings = std::unique_ptr<wchar_t, EnvironmentStringsDeleter>;
using UniqueFind = std::unique_ptr<void, FindCloseDeleter>;

inline UniqueFind open_find(HANDLE h) { return UniqueFind(h == INVALID_HANDLE_VALUE ? nullptr : h); }

static_assert(!std::is_copy_constructible_v<UniqueHandle> && !std::is_copy_assignable_v<UniqueHandle> &&
                  !std::is_copy_constructible_v<LocalText> &&
                  !std::is_copy_constructible_v<EnvironmentStrings> && !std::is_copy_constructible_v<UniqueFind>,
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

// GetModuleFileNameW for the launcher's own executable.
Outcome<std::u16string> own_module_path();

// GetFullPathNameW; nothing when it fails.
std::optional<std::u16string> full_path_name(std::u16string_view path);

}  // namespace quillbox
