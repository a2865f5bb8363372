// The Win32 side of the launcher: owners for what the platform hands out, and
// the conversions between the portable char16_t text and wchar_t. Only files
// named *_win32.cpp include this.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "main/error.h"

namespace quillbox {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline std::u16string_view u16(const wchar_t* text) { return std::u16string_view(reinterpret_cast<const char16_t*>(text)); }

// A kernel handle; both NULL and INVALID_HANDLE_VALUE mean none, since
// CreateFileW fails with one and the process calls with the other.
struct UniqueHandle {
    HANDLE handle = nullptr;

    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle = other.handle;
            other.handle = nullptr;
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    bool valid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    void reset() {
        if (valid()) CloseHandle(handle);
        handle = nullptr;
    }
};

// A loaded DLL, freed when the owner goes.
struct UniqueModule {
    HMODULE module = nullptr;

    explicit UniqueModule(HMODULE m) : module(m) {}
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;
    ~UniqueModule() {
        if (module != nullptr) FreeLibrary(module);
    }
};

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
