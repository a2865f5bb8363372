#include "main/error.h"

#include <gtest/gtest.h>

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
        {describe(Error{"", "bin file is not valid!", 0, false}), "bin file is not valid!"},
        {quoted_name("quillbox.exe"), "\"quillbox.exe\""},
        {quoted_name("we\"ird\\name.exe"), "\"we\\\"ird\\\\name.exe\""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

}  // namespace
}  // namespace quillbox
