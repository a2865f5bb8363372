#include "main/launch.h"

#include <gtest/gtest.h>

#include "bin_reader/full_path_stand_in.h"
#include "base/text.h"

namespace quillbox {
namespace {

bool fake_file_exists(const std::u16string& path) {
    return path == u"C:\\u\\app.exe" || path == u"C:\\cwd\\rel\\app.exe" || path == u"C:\\u\\Tool.EXE.exe";
}

TEST(ResolveProgram, AppendsExeOnlyForAnExistingFileAndRejectsPathsWithoutName) {
    const std::u16string deep = u"C:\\u\\" + std::u16string(250, u'd') + u"\\.\\f.exe";
    struct Case {
        std::u16string launch_path;
        std::u16string program;  // empty: "program path has no file name"
    };
    const Case cases[] = {
        {u"C:\\u\\quillbox\\.\\quillbox.exe", u"C:\\u\\quillbox\\.\\quillbox.exe"},
        {u"C:\\u\\quillbox\\.\\QuillBox.eXe", u"C:\\u\\quillbox\\.\\QuillBox.eXe"},
        {u"C:\\u\\Tool.EXE", u"C:\\u\\Tool.EXE"},  // has the ending: no other name is tried
        {u"C:\\u\\app", u"C:\\u\\app.exe"},
        {u"C:\\u\\tool", u"C:\\u\\tool"},
        {u"C:\\u\\x.ex", u"C:\\u\\x.ex"},
        {u"C:\\u\\x.exe.", u"C:\\u\\x.exe."},
        {u"rel\\app", u"C:\\cwd\\rel\\app.exe"},  // the existence test sees the full path
        {u"rel\\none", u"C:\\cwd\\rel\\none"},
        {deep, u"\\\\?\\C:\\u\\" + std::u16string(250, u'd') + u"\\f.exe"},
        {u"\\\\?\\C:\\u\\app/", u"C:\\u\\app/"},  // '/' is no separator in a verbatim path
        {u"", u""},
        {u"C:\\u\\quillbox\\", u""},
        {u"C:\\u\\quillbox/", u""},
        {u"\\\\?\\C:\\u\\", u""},
    };
    for (const Case& c : cases) {
        Outcome<std::u16string> program = resolve_program(c.launch_path, fake_file_exists, testing::fake_full_path);
        if (c.program.empty()) {
            ASSERT_FALSE(program.ok()) << utf16_to_utf8_lossy(c.launch_path);
            EXPECT_EQ(describe(*program.error), "invalid input: program path has no file name");
        } else {
            ASSERT_TRUE(program.ok()) << utf16_to_utf8_lossy(c.launch_path);
            EXPECT_EQ(program.value, c.program) << utf16_to_utf8_lossy(c.launch_path);
        }
    }
}

TEST(QuotedName, EscapesTheCharactersThatMustBe) {
    EXPECT_EQ(quoted_name("we\"ird\\name.exe"), "\"we\\\"ird\\\\name.exe\"");
}

}  // namespace
}  // namespace quillbox
