#include "main/environment.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>

#include "base/text.h"

namespace quillbox {
namespace {

// CompareStringOrdinal with ignore-case: each UTF-16 unit upper-cased by its
// simple mapping, then compared as numbers. Surrogates are left alone.
int ordinal_ignore_case(std::u16string_view a, std::u16string_view b) {
    static const bool locale_set = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    (void)locale_set;
    auto upper = [](char16_t c) -> char16_t {
        if (c >= 0xD800 && c <= 0xDFFF) return c;
        wint_t u = std::towupper(static_cast<wint_t>(c));
        return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
    };
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = upper(a[i]), y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// "A=1", "B=2" -> "A=1\0B=2\0\0", so that no expectation spells NULs by hand.
std::u16string block_of(std::initializer_list<std::u16string_view> entries) {
    std::u16string block;
    for (auto entry : entries) {
        block += entry;
        block += u'\0';
    }
    block += u'\0';
    return block;
}

std::u16string build(std::initializer_list<std::u16string_view> inherited, std::u16string_view app = u"q.exe") {
    std::u16string raw = block_of(inherited);
    auto out = build_environment_block(parse_environment_block(raw.c_str()), app, ordinal_ignore_case);
    EXPECT_TRUE(out.ok());
    return out.value;
}

TEST(EnvironmentBlock, FoldsNamesKeepsDriveEntriesAndSorts) {
    struct Case {
        const char* what;
        std::u16string got;
        std::u16string want;
    };
    const Case cases[] = {
        {"empty inherited", build({}), block_of({u"QUILLBOX_APPNAME=q.exe"})},
        {"sorted ignoring case", build({u"zeta=1", u"Alpha=2", u"beta=3"}),
         block_of({u"Alpha=2", u"beta=3", u"QUILLBOX_APPNAME=q.exe", u"zeta=1"})},
        {"lower-case name keeps its spelling", build({u"quillbox_appname=old"}, u"quillbox-qs.exe"),
         block_of({u"quillbox_appname=quillbox-qs.exe"})},
        {"first spelling, last value", build({u"Path=a", u"PATH=b", u"path=c"}),
         block_of({u"Path=c", u"QUILLBOX_APPNAME=q.exe"})},
        {"per-drive entries stay", build({u"=C:=C:\\work", u"=D:=D:\\", u"A=1"}),
         block_of({u"=C:=C:\\work", u"=D:=D:\\", u"A=1", u"QUILLBOX_APPNAME=q.exe"})},
        {"entries without '=' are dropped", build({u"JUNK", u"=", u"A=1"}),
         block_of({u"A=1", u"QUILLBOX_APPNAME=q.exe"})},
        {"values may hold '=' and be empty", build({u"X=a=b", u"E="}),
         block_of({u"E=", u"QUILLBOX_APPNAME=q.exe", u"X=a=b"})},
        {"non-ASCII names fold by simple upper case", build({u"\u00e9t\u00e9=1", u"\u00c9T\u00c9=2"}),
         block_of({u"QUILLBOX_APPNAME=q.exe", u"\u00e9t\u00e9=2"})},
        // '_' (0x5F) sorts after upper-case letters once both sides are upper-cased.
        {"underscore after letters", build({u"a_b=1", u"ab=2", u"AZ=3"}),
         block_of({u"ab=2", u"AZ=3", u"a_b=1", u"QUILLBOX_APPNAME=q.exe"})},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what << ": " << utf16_to_utf8_lossy(c.got);
}

TEST(EnvironmentBlock, RejectsNulInsideANameOrValue) {
    std::vector<EnvEntry> inherited = {{u"A", std::u16string(u"x\0y", 3)}};
    auto out = build_environment_block(inherited, u"q.exe", ordinal_ignore_case);
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.error->text(), "nul byte found in provided data");
}

}  // namespace
}  // namespace quillbox
