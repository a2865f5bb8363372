// Win32 side of the launcher's output lines: console or pipe; the text rules are in text.h.
#include <string>

#include "base/console_win32.h"

#include "base/fatal.h"
#include "base/text.h"
#include "base/win32.h"

namespace quillbox {
namespace {

HANDLE stream_handle(LauncherStream stream) {
    return GetStdHandle(stream == LauncherStream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

void print_line(LauncherStream stream, std::string_view utf8_line) {
    HANDLE h = stream_handle(stream);
    if (!handle_present(h)) return;  // started without this stream
    std::string line(utf8_line);
    line += '\n';
    DWORD error = is_console(h) ? write_console(h, utf8_to_utf16(line)) : write_handle(h, line);
    // A handle value that names nothing counts as an absent stream.
    if (error == 0 || error == ERROR_INVALID_HANDLE) return;
    fatal_stop(std::string("failed printing to ") + (stream == LauncherStream::out ? "stdout" : "stderr") + ": " +
               describe(win32_error(error)));
}

void write_stderr_raw(std::string_view utf8_text) {
    HANDLE h = stream_handle(LauncherStream::err);
    if (!handle_present(h)) return;
    if (!is_console(h)) {
        write_handle(h, utf8_text);
        return;
    }
    // Converted piecewise on a stack buffer: this runs when memory may be gone.
    wchar_t wide_text[1024];
    while (!utf8_text.empty()) {
        size_t take = std::min<size_t>(utf8_text.size(), 1024);
        while (take < utf8_text.size() && take > 0 && (static_cast<uint8_t>(utf8_text[take]) & 0xC0) == 0x80) --take;
        if (take == 0) take = std::min<size_t>(utf8_text.size(), 1024);
        int n = MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(), static_cast<int>(take), wide_text, 1024);
        if (n > 0) write_console(h, std::u16string_view(reinterpret_cast<const char16_t*>(wide_text), n));
        utf8_text.remove_prefix(take);
    }
}

}  // namespace quillbox
