#include <cstdio>
#include <string>

#include "main/fatal.h"

namespace quillbox {

std::string fatal_report(std::string_view message, const std::source_location& where) {
    std::string report = "quillbox: fatal: ";
    report += message;
    report += "\n  at ";
    report += where.file_name();
    report += ':';
    report += std::to_string(where.line());
    report += " (";
    report += where.function_name();
    report += ")\n";
    return report;
}

void fatal_stop(const Error& error, std::source_location where) {
    fatal_stop(describe(error), where);
}

void fatal_out_of_memory(size_t bytes, std::source_location where) {
    // No allocation here: this is the path taken when allocation has failed.
    char message[64];
    int n = std::snprintf(message, sizeof message, "memory allocation of %zu bytes failed", bytes);
    fatal_stop(std::string_view(message, n > 0 ? static_cast<size_t>(n) : 0), where);
}

}  // namespace quillbox
