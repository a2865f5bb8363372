// The fatal report's text, written the same way by every platform.
#include <cstdio>

#include "base/fatal.h"

namespace quillbox {

void write_fatal_report(std::string_view message, const SourcePlace& where, void (*write)(std::string_view piece)) {
    char digits[16];  // an unsigned line number, right-aligned
    size_t start = sizeof digits;
    unsigned line = where.line;
    do {
        digits[--start] = static_cast<char>('0' + line % 10);
        line /= 10;
    } while (line != 0);
    write("quillbox: fatal: ");
    write(message);
    write("\n  at ");
    write(where.file);
    write(":");
    write(std::string_view(digits + start, sizeof digits - start));
    write(" (");
    write(where.function);
    write(")\n");
}

void fatal_stop(const Error& error, SourcePlace where) { fatal_stop(describe(error), where); }

void fatal_out_of_memory(size_t bytes, SourcePlace where) {
    // No allocation here: this is the path taken when allocation has failed.
    char message[64];
    int n = std::snprintf(message, sizeof message, "memory allocation of %zu bytes failed", bytes);
    fatal_stop(std::string_view(message, n > 0 ? static_cast<size_t>(n) : 0), where);
}

}  // namespace quillbox
