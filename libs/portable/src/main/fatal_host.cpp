// Host builds (tools and tests): the report goes to stderr and the process aborts,
// which lets tests observe fatal stops as deaths with a known report.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "main/fatal.h"

namespace quillbox {

void fatal_stop(std::string_view message, SourcePlace where) {
    std::string report = fatal_report(message, where);
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::abort();
}

}  // namespace quillbox
