// Host builds (tools and tests): the report goes to stderr and the process aborts,
// which lets tests observe fatal stops as deaths with a known report.
#include <cstdio>
#include <cstdlib>

#include "base/fatal.h"

namespace quillbox {
namespace {

void write_stderr(std::string_view piece) { std::fwrite(piece.data(), 1, piece.size(), stderr); }

}  // namespace

void fatal_stop(std::string_view message, SourcePlace where) {
    write_fatal_report(message, where, write_stderr);
    std::abort();
}

}  // namespace quillbox
