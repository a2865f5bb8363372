// The fatal stop: a report on standard error naming the message and the place
// of the failed check, then immediate termination. Nothing runs after it.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/error.h"

namespace quillbox {

// Where a failed check stands; filled in by default arguments at the call site.
// (std::source_location would do, but not every compiler we build with has it.)
struct SourcePlace {
    const char* file;
    unsigned line;
    const char* function;

    static constexpr SourcePlace current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                                         const char* function = __builtin_FUNCTION()) {
        return SourcePlace{file, line, function};
    }
};

[[noreturn]] void fatal_stop(std::string_view message, SourcePlace where = SourcePlace::current());

[[noreturn]] void fatal_stop(const Error& error, SourcePlace where = SourcePlace::current());

// "memory allocation of N bytes failed"
[[noreturn]] void fatal_out_of_memory(size_t bytes, SourcePlace where = SourcePlace::current());

// Writes the report, "quillbox: fatal: <message>\n  at <file>:<line> (<function>)\n",
// in pieces through `write`. It allocates nothing: it runs when memory is gone.
void write_fatal_report(std::string_view message, const SourcePlace& where, void (*write)(std::string_view piece));

}  // namespace quillbox
