#include "bin_reader/path.h"

#include <gtest/gtest.h>

#include "bin_reader/full_path_stand_in.h"
#include "base/text.h"

namespace quillbox {
namespace {

using testing::fake_full_path;

std::string show(std::u16string_view s) { return utf16_to_utf8_lossy(s); }

TEST(PathJoin, AppendsReplacesOrKeepsTheDrive) {
    struct Case {
        std::u16string folder, name, joined;
    };
    const Case cases[] = {
        {u"C:\\Users\\me\\AppData\\Local", u"quillbox", u"C:\\Users\\me\\AppData\\Local\\quillbox"},
        {u"C:\\u\\quillbox", u".\\quillbox.exe", u"C:\\u\\quillbox\\.\\quillbox.exe"},
        {u"C:\\u\\", u"a", u"C:\\u\\a"},
        {u"C:\\u/", u"a", u"C:\\u/a"},
        {u"C:\\u", u"..\\up\\.\\f", u"C:\\u\\..\\up\\.\\f"},
        {u"C:\\u", u"sub/f.dll", u"C:\\u\\sub/f.dll"},
        {u"C:\\u", u"", u"C:\\u\\"},
        {u"C:", u"a", u"C:a"},
        {u"", u"a", u"a"},
        {u"C:\\u\\v", u"\\abs\\f", u"C:\\abs\\f"},
        {u"C:\\u\\v", u"/abs", u"C:/abs"},
        {u"\\\\srv\\share\\u", u"\\abs", u"\\\\srv\\share\\abs"},
        {u"relative\\u", u"\\abs", u"\\abs"},
        {u"C:\\u", u"D:\\other", u"D:\\other"},
        {u"C:\\u", u"D:rel", u"D:rel"},
        {u"C:\\u", u"\\\\srv\\share\\f", u"\\\\srv\\share\\f"},
        {u"C:\\u", u"\\\\?\\C:\\f", u"\\\\?\\C:\\f"},
        {u"\\\\?\\C:\\u/", u"a", u"\\\\?\\C:\\u/\\a"},  // '/' is no separator in verbatim paths
        {u"\\\\.\\C:\\u/", u"a", u"\\\\.\\C:\\u/a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(path_join(c.folder, c.name), c.joined) << show(c.folder) << " + " << show(c.name);
    }
}

TEST(HoldingFolderAndFileName, IgnoreDotPartsAndTrailingSeparators) {
    struct Case {
        std::u16string path;
        std::optional<std::u16string> holder;
        std::optional<std::u16string> name;
    };
    const Case cases[] = {
        {u"C:\\u\\quillbox\\.\\quillbox.exe", u"C:\\u\\quillbox", u"quillbox.exe"},
        {u"C:\\u\\quillbox\\.\\sub\\a.dll", u"C:\\u\\quillbox\\.\\sub", u"a.dll"},
        {u"C:\\u\\sub/f", u"C:\\u\\sub", u"f"},
        {u"C:\\u\\a\\", u"C:\\u", u"a"},
        {u"C:\\u\\a\\.", u"C:\\u", u"a"},
        {u"C:\\a", u"C:\\", u"a"},
        {u"C:\\", std::nullopt, std::nullopt},
        {u"C:\\u\\..", u"C:\\u", std::nullopt},
        {u"\\\\srv\\share\\f", u"\\\\srv\\share\\", u"f"},
        {u"\\\\?\\C:\\x\\y", u"\\\\?\\C:\\x", u"y"},
        {u"\\\\?\\C:\\x\\a/b", u"\\\\?\\C:\\x", u"a/b"},  // '/' is no separator in verbatim paths
        {u"q.exe", u"", u"q.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(holding_folder(c.path), c.holder) << show(c.path);
        EXPECT_EQ(file_name(c.path), c.name) << show(c.path);
    }
}

TEST(LongPaths, ReachTheFileSystemInExtendedLengthForm) {
    const std::u16string deep = u"C:\\u\\" + std::u16string(250, u'd') + u"\\.\\f.exe";
    const std::u16string deep_clean = u"C:\\u\\" + std::u16string(250, u'd') + u"\\f.exe";
    const std::u16string edge = u"C:\\" + std::u16string(245, u'e');  // 248 units without NUL: past the short form
    const std::u16string unc = u"\\\\srv\\share\\" + std::u16string(250, u'x');
    struct Case {
        std::u16string path, for_files, for_start;
    };
    const Case cases[] = {
        {u"C:\\u\\quillbox\\.\\quillbox.exe", u"C:\\u\\quillbox\\.\\quillbox.exe", u"C:\\u\\quillbox\\.\\quillbox.exe"},
        {u"\\\\srv\\share\\f", u"\\\\srv\\share\\f", u"\\\\srv\\share\\f"},
        {u"rel\\f.exe", u"\\\\?\\C:\\cwd\\rel\\f.exe", u"C:\\cwd\\rel\\f.exe"},
        {deep, u"\\\\?\\" + deep_clean, u"\\\\?\\" + deep_clean},
        {edge, u"\\\\?\\" + edge, edge},
        {unc, u"\\\\?\\UNC\\srv\\share\\" + std::u16string(250, u'x'),
         u"\\\\?\\UNC\\srv\\share\\" + std::u16string(250, u'x')},
        {u"\\\\?\\C:\\already", u"\\\\?\\C:\\already", u"C:\\already"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file_system_path(c.path, fake_full_path), c.for_files) << show(c.path);
        EXPECT_EQ(user_path(c.path, fake_full_path), c.for_start) << show(c.path);
    }
}

// Device paths (\\.\) are normalised and length-checked by the system, so
// past MAX_PATH, and wherever the extended form is asked for, they take the
// verbatim prefix like any other full path; paths in extended or NT form
// (\??\) are the system's already and stay as they are.
TEST(LongPaths, DevicePathsTakeTheVerbatimPrefixAndSystemFormsStay) {
    const std::u16string deep(250, u'd');
    struct Case {
        std::u16string path, for_files;
        std::optional<std::u16string> extended;
    };
    const Case cases[] = {
        {u"\\\\.\\C:\\x", u"\\\\.\\C:\\x", u"\\\\?\\C:\\x"},
        {u"\\\\.\\C:\\" + deep, u"\\\\?\\C:\\" + deep, u"\\\\?\\C:\\" + deep},
        {u"\\\\.\\C:\\a\\.\\" + deep, u"\\\\?\\C:\\a\\" + deep, u"\\\\?\\C:\\a\\" + deep},
        {u"\\\\.\\UNC\\srv\\share\\f", u"\\\\.\\UNC\\srv\\share\\f", u"\\\\?\\UNC\\srv\\share\\f"},
        {u"\\??\\C:\\x", u"\\??\\C:\\x", u"\\??\\C:\\x"},
        {u"\\??\\C:\\" + deep, u"\\??\\C:\\" + deep, u"\\??\\C:\\" + deep},
        {u"\\\\?\\C:\\" + deep, u"\\\\?\\C:\\" + deep, u"\\\\?\\C:\\" + deep},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file_system_path(c.path, fake_full_path), c.for_files) << show(c.path);
        EXPECT_EQ(extended_path(c.path, fake_full_path), c.extended) << show(c.path);
    }
}

// The removal starts from the extended form and forms every child from it, so
// no item at any depth falls back to the classic 260-unit limit.
TEST(LongPaths, RemovalPathsKeepTheExtendedFormAtEveryDepth) {
    struct Case {
        std::u16string start;
        std::optional<std::u16string> extended;
    };
    const Case cases[] = {
        {u"C:\\u\\quillbox", u"\\\\?\\C:\\u\\quillbox"},
        {u"C:\\u\\.\\quillbox", u"\\\\?\\C:\\u\\quillbox"},
        {u"rel", u"\\\\?\\C:\\cwd\\rel"},
        {u"\\\\srv\\share\\quillbox", u"\\\\?\\UNC\\srv\\share\\quillbox"},
        {u"\\\\?\\C:\\kept", u"\\\\?\\C:\\kept"},
        {u"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(extended_path(c.start, fake_full_path), c.extended) << show(c.start);
    EXPECT_EQ(extended_path(u"x", [](std::u16string_view) { return std::optional<std::u16string>(); }), std::nullopt);

    const std::u16string root = *extended_path(u"C:\\u\\quillbox", fake_full_path);
    const std::u16string component(250, u'n');
    std::u16string path = root;
    for (int depth = 0; path.size() <= 32000; ++depth) {
        const std::u16string parent = path;
        path = child_path(path, component);
        ASSERT_EQ(path.size(), parent.size() + 1 + component.size()) << depth;
        ASSERT_EQ(path.rfind(root + u"\\", 0), 0u) << depth;
        ASSERT_EQ(holding_folder(path), parent) << depth;
        ASSERT_EQ(file_name(path), component) << depth;
    }
    EXPECT_EQ(child_path(u"\\\\?\\C:\\", u"a"), u"\\\\?\\C:\\a");
    EXPECT_EQ(child_path(u"\\\\?\\C:\\x", u"a/b"), u"\\\\?\\C:\\x\\a/b");
}

}  // namespace
}  // namespace quillbox
