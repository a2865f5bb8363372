// Win32 side of the fatal stop; the report's text is formed in fatal_report.cpp.
// It writes the report straight to the stderr handle and ends the process
// through fast-fail: no exit handlers, no flush, no unwinding, so nothing
// half-done can run after a failed check.
#include "base/console_win32.h"
#include "base/fatal.h"
#include "base/win32.h"

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
    write_fatal_report(message, where, write_stderr_raw);
    fast_fail(FATAL_APP_EXIT);
}

}  // namespace quillbox
