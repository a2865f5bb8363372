#include "base/error.h"

#include <gtest/gtest.h>

#include "base/fatal.h"
#include "main/launch.h"

namespace quillbox {
namespace {

TEST(Reports, ErrorsAndNamesAreWrittenAsTheReportsShowThem) {
    struct Case {
        std::string got, want;
    };
    // One row per shape of report: a system error of a known kind and of none,
    // an error the program finds itself (kind, then text), a plain message, and
    // a name with the characters that must be escaped.
    const Case cases[] = {
        {describe(os_error(2, "File not found.")), "not found: File not found. (os error 2)"},
        {describe(os_error(12345, "Odd.")), "uncategorized: Odd. (os error 12345)"},
        {describe(invalid_data("brotli stream ends before its last block")),
         "invalid data: brotli stream ends before its last block"},
        {describe(plain_error("bin file is not valid!")), "bin file is not valid!"},
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
        {"memory allocation of 12 bytes failed",
         {"libs/portable/src/bin_reader/bin_reader.cpp", 42, "new_buffer"},
         "quillbox: fatal: memory allocation of 12 bytes failed\n"
         "  at libs/portable/src/bin_reader/bin_reader.cpp:42 (new_buffer)\n"},
        {"", {"f.cpp", 4294967295u, "g"}, "quillbox: fatal: \n  at f.cpp:4294967295 (g)\n"},
    };
    for (const Case& c : cases) {
        written.clear();
        write_fatal_report(c.message, c.where, collect);
        EXPECT_EQ(written, c.report);
    }
}

}  // namespace
}  // namespace quillbox
