#include "base/error.h"

#include <gtest/gtest.h>

#include "base/fatal.h"

namespace quillbox {
namespace {

TEST(Reports, ErrorsAreWrittenAsTheReportsShowThem) {
    struct Case {
        std::string got, want;
    };
    // One row per shape of report: a system error of a known kind and of none,
    // an error the program finds itself (kind, then text) and a plain message.
    const Case cases[] = {
        {describe(os_error(2, "File not found.")), "not found: File not found. (os error 2)"},
        {describe(os_error(12345, "Odd.")), "uncategorized: Odd. (os error 12345)"},
        {describe(invalid_data("brotli stream ends before its last block")),
         "invalid data: brotli stream ends before its last block"},
        {describe(plain_error("bin file is not valid!")), "bin file is not valid!"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Reports, ContextGoesBeforeTheKindAndKeepsTheCode) {
    struct Case {
        Error error;
        ErrorKind kind;
        uint32_t os_code;  // 0: not from the system
        std::string text, described;
    };
    const Error missing = os_error(2, "File not found.");
    const Case cases[] = {
        {with_context(missing, "cannot open \"a\""), ErrorKind::not_found, 2, "cannot open \"a\": File not found.",
         "cannot open \"a\": not found: File not found. (os error 2)"},
        // The outer context first, as the failure went up.
        {with_context(with_context(invalid_data("bad block"), "entry \".\\a.txt\""), "the payload fails verification"),
         ErrorKind::invalid_data, 0, "the payload fails verification: entry \".\\a.txt\": bad block",
         "the payload fails verification: entry \".\\a.txt\": invalid data: bad block"},
        {with_context(plain_os_error(5, "cannot write \"b\": Access is denied."), "the icon"), ErrorKind::none, 5,
         "the icon: cannot write \"b\": Access is denied.",
         "the icon: cannot write \"b\": Access is denied. (os error 5)"},
        {without_kind(with_context(missing, "\"stub.exe\"")), ErrorKind::none, 2, "\"stub.exe\": File not found.",
         "\"stub.exe\": File not found. (os error 2)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.kind(), c.kind) << c.described;
        EXPECT_EQ(c.error.from_os(), c.os_code != 0) << c.described;
        EXPECT_EQ(c.error.os_code(), c.os_code) << c.described;
        EXPECT_EQ(c.error.text(), c.text);
        EXPECT_EQ(describe(c.error), c.described);
    }
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
