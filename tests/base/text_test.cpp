#include "base/text.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

TEST(Utf8Lossy, ReplacesEachMaximalIllFormedSubsequence) {
    const std::string R = "\xEF\xBF\xBD";
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"quillbox", "quillbox"},
        {"", ""},
        {"\xC3\xA9", "\xC3\xA9"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"a\xFF"
         "b",
         "a" + R + "b"},
        {"\xC0\xAF", R + R},                  // overlong lead bytes are never valid
        {"\xE0\x80\x80", R + R + R},          // E0 needs A0..BF next
        {"\xED\xA0\x80", R + R + R},          // encoded surrogate
        {"\xF4\x90\x80\x80", R + R + R + R},  // above U+10FFFF
        {"\xE2\x82", R},                      // truncated: one maximal subpart
        {"\xF0\x9F\x98"
         "A",
         R + "A"},
        {"\xE2\x82\xC3\xA9", R + "\xC3\xA9"},
        {"\x80\x80", R + R},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8_lossy(c.bytes), c.text);
        EXPECT_EQ(is_valid_utf8(c.bytes), c.bytes == c.text);
    }
}

TEST(Utf16Conversion, RoundTripsAndFlagsLoneSurrogates) {
    const std::u16string good = u"a\u00e9\u20ac\U0001F600";
    ASSERT_TRUE(utf16_to_utf8(good).has_value());
    EXPECT_EQ(utf8_to_utf16(*utf16_to_utf8(good)), good);

    const std::u16string lone = std::u16string(u"x") + char16_t(0xDC01);
    EXPECT_FALSE(utf16_to_utf8(lone).has_value());
    EXPECT_EQ(utf16_to_utf8_lossy(lone), "x\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string(1, char16_t(0xD83D))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quillbox
