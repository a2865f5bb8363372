#include "main/error.h"

#include <gtest/gtest.h>

#include "main/fatal.h"
#include "main/launch.h"

namespace quillbox {
namespace {

TEST(Reports, ErrorsAndNamesAreWrittenAsTheReportsShowThem) {
    struct Case {
        std::string got, want;
    };
    const Case cases[] = {
        {describe(os_error(2, "File not found.")), "not found: File not found. (os error 2)"},
        {describe(os_error(5, "Access denied.")), "permission denied: Access denied. (os error 5)"},
        {describe(os_error(12345, "Odd.")), "uncategorized: Odd. (os error 12345)"},
        {describe(invalid_input("program path has no file name")), "invalid input: program path has no file name"},
        {describe(invalid_data("brotli stream ends before its last block")),
         "invalid data: brotli stream ends before its last block"},
        {describe(out_of_memory_error("cannot pack \"a\"")), "out of memory: cannot pack \"a\""},
        {describe(plain_error("bin file is not valid!")), "bin file is not valid!"},
        {quoted_name("quillbox.exe"), "\"quillbox.exe\""},
        {quoted_name("we\"ird\\name.exe"), "\"we\\\"ird\\\\name.exe\""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

std::string written;  // what write_fatal_report handed to its writer
void collect(std::string_view piece) { written += piece; }

TEST(Reports, FatalReportIsWrittenExactly) {
    struct Case {
        std::string_view message;
        SourcePlace where;
        std::string report;
    };
    const Case cases[] = {
        {"memory allocation of 12 bytes failed", {"libs/portable/src/bin_reader/bin_reader.cpp", 42, "new_buffer"},
         "quillbox: fatal: memory allocation of 12 bytes failed\n"
         "  at libs/portable/src/bin_reader/bin_reader.cpp:42 (new_buffer)\n"},
        {"", {"f.cpp", 0, "g"}, "quillbox: fatal: \n  at f.cpp:0 (g)\n"},
        {"x", {"f.cpp", 4294967295u, "g"}, "quillbox: fatal: x\n  at f.cpp:4294967295 (g)\n"},
    };
    for (const Case& c : cases) {
        written.clear();
        write_fatal_report(c.message, c.where, collect);
        EXPECT_EQ(written, c.report);
    }
}

}  // namespace
}  // namespace quillbox
