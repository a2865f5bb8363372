// The launcher's fatal stop. It writes the report straight to the stderr handle
// and ends the process through fast-fail: no exit handlers, no flush, no
// unwinding, so nothing half-done can run after a failed check.
#include <cstdio>

#include "main/console.h"
#include "main/fatal.h"
#include "main/win32.h"

namespace quillbox {
namespace {

constexpr unsigned FATAL_APP_EXIT = 7;  // FAST_FAIL_FATAL_APP_EXIT

[[noreturn]] void fast_fail(unsigned code) {
    // __fastfail: the MinGW headers lack it; on x86 it is int 0x29 with the code in ECX.
    asm volatile("int $0x29" : : "c"(code) : "memory");
    __builtin_unreachable();
}

}  // namespace

void fatal_stop(std::string_view message, SourcePlace where) {
    char line[32];
    int n = std::snprintf(line, sizeof line, ":%u (", static_cast<unsigned>(where.line));
    write_stderr_raw("quillbox: fatal: ");
    write_stderr_raw(message);
    write_stderr_raw("\n  at ");
    write_stderr_raw(where.file);
    write_stderr_raw(std::string_view(line, n > 0 ? static_cast<size_t>(n) : 0));
    write_stderr_raw(where.function);
    write_stderr_raw(")\n");
    fast_fail(FATAL_APP_EXIT);
}

}  // namespace quillbox
