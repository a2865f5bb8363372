#include "base/split.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace quillbox {
namespace {

std::u16string fake_module_path() { return u"C:\\apps\\quillbox.exe"; }

std::vector<std::u16string> split(std::u16string_view text) { return split_command_line(text, fake_module_path); }

TEST(SplitCommandLine, FollowsTheProgramNameAndArgumentRules) {
    struct Case {
        std::u16string text;
        std::vector<std::u16string> words;
    };
    const Case cases[] = {
        {u"", {u"C:\\apps\\quillbox.exe"}},
        {u"quillbox.exe", {u"quillbox.exe"}},
        {u"quillbox.exe   ", {u"quillbox.exe"}},
        {u"\"C:\\Program Files\\x\\quillbox-install.exe\"", {u"C:\\Program Files\\x\\quillbox-install.exe"}},
        // The program name keeps backslashes and only toggles on quotes.
        {u"C:\\a\\\"b c\" d", {u"C:\\a\\b c", u"d"}},
        {u"p\"\"q r", {u"pq", u"r"}},
        {u" a b", {u"", u"a", u"b"}},
        {u"\t\"\"", {u"", u""}},
        {u"p a\"b c\"d", {u"p", u"ab cd"}},
        {u"p \\\\\\\"x", {u"p", u"\\\"x"}},
        {u"p \\\\\"x y\"", {u"p", u"\\x y"}},
        {u"p a\\\\b", {u"p", u"a\\\\b"}},
        {u"p a\\", {u"p", u"a\\"}},
        {u"p \"a\"\"b\"", {u"p", u"a\"b"}},
        {u"p \"a\\\\\"", {u"p", u"a\\"}},
        {u"p x \"\" y", {u"p", u"x", u"", u"y"}},
        {u"p x \"\"", {u"p", u"x", u""}},
        {u"p x \"", {u"p", u"x", u""}},
        {u"p \"abc", {u"p", u"abc"}},
        {u"p a\t \tb  ", {u"p", u"a", u"b"}},
        {u"p \"a b\"c d", {u"p", u"a bc", u"d"}},
        {u"p \"\"\"", {u"p", u"\""}},
        {u"p \u00e9 \U0001F600", {u"p", u"\u00e9", u"\U0001F600"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split(c.text), c.words) << utf16_to_utf8_lossy(c.text);
    }
}

TEST(QuoteArg, EncodesOnlyWhatNeedsIt) {
    struct Case {
        std::u16string arg;
        std::u16string written;
    };
    const Case cases[] = {
        {u"--install", u"--install"},
        {u"", u"\"\""},
        {u"a b", u"\"a b\""},
        {u"a\tb", u"\"a\tb\""},
        {u"say\"hi", u"say\\\"hi"},
        {u"C:\\dir\\", u"C:\\dir\\"},
        {u"C:\\my dir\\", u"\"C:\\my dir\\\\\""},
        {u"\"a b\" \"c d\"", u"\"\\\"a b\\\" \\\"c d\\\"\""},
        {u"a\\\\\"b", u"a\\\\\\\\\\\"b"},
        {u"a\\b", u"a\\b"},
        {u"&|<>^%", u"&|<>^%"},
    };
    for (const Case& c : cases) {
        std::u16string out;
        EXPECT_FALSE(quote_arg(out, c.arg).has_value());
        EXPECT_EQ(out, c.written) << utf16_to_utf8_lossy(c.arg);
    }
}

TEST(BuildCommandLine, QuotesThePathAndRejectsNul) {
    auto empty = build_command_line(u"C:\\u\\quillbox\\.\\quillbox.exe", {});
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty.value, u"\"C:\\u\\quillbox\\.\\quillbox.exe\"");

    auto install = build_command_line(u"C:\\u\\quillbox\\.\\quillbox.exe", {"--install"});
    EXPECT_EQ(install.value, u"\"C:\\u\\quillbox\\.\\quillbox.exe\" --install");

    auto nul = build_command_line(u"C:\\q.exe", {"ok", std::string("a\0b", 3)});
    ASSERT_FALSE(nul.ok());
    EXPECT_EQ(describe(*nul.error), "invalid input: nul byte found in provided data");
}

}  // namespace
}  // namespace quillbox
