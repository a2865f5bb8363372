#include <cstdio>
#include <string>

#include "main/fatal.h"

namespace quillbox {

std::string fatal_report(std::string_view message, const SourcePlace& where) {
    std::string report = "quillbox: fatal: ";
    report += message;
    report += "\n  at ";
    report += where.file;
    report += ':';
    report += std::to_string(where.line);
    report += " (";
    report += where.function;
    report += ")\n";
    return report;
}

void fatal_stop(const Error& error, SourcePlace where) {
    fatal_stop(describe(error), where);
}

void fatal_out_of_memory(size_t bytes, SourcePlace where) {
    // No allocation here: this is the path taken when allocation has failed.
    char message[64];
    int n = std::snprintf(message, sizeof message, "memory allocation of %zu bytes failed", bytes);
    fatal_stop(std::string_view(message, n > 0 ? static_cast<size_t>(n) : 0), where);
}

}  // namespace quillbox
