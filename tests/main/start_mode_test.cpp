#include "main/start_mode.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

using Args = std::vector<std::string>;

TEST(StartMode, NameTestsInstallModeAndLaunchArgs) {
    struct Case {
        std::string invoked_as;
        Args user_args;
        bool install;
        Args launch_args;
    };
    const Case cases[] = {
        {"C:\\Downloads\\quillbox-1.0-install.exe", {}, true, {"--install"}},
        {"C:\\Downloads\\quillbox-1.0-install.exe", {"--silent-install"}, true, {"--silent-install"}},
        {"C:\\Downloads\\quillbox-1.0-install.exe", {"x"}, false, {"x"}},
        {"uninstall.exe", {}, true, {"--install"}},
        {"REINSTALL.EXE", {}, true, {"--install"}},
        {"C:\\x\\quillbox-QS.EXE", {}, false, {"--quick_support"}},
        {"quillbox-qs.exe", {"--install"}, false, {"--install"}},
        {"quillbox-install", {}, false, {}},
        {"nstall.exe", {}, false, {}},
        {"qs.ex", {}, false, {}},
        {"C:\\Program Files\\x\\quillbox-install.exe", {}, true, {"--install"}},
        {"quillbox.exe", {"--SILENT-INSTALL"}, false, {"--SILENT-INSTALL"}},
        {"quillbox.exe", {"--silent-install=1"}, false, {"--silent-install=1"}},
        {"quillbox.exe", {"a", "--silent-install", "b"}, true, {"a", "--silent-install", "b"}},
        {"\xC4\xB0nstall.exe", {}, false, {}},  // U+0130 does not lower-case to a plain i
        {"", {}, false, {}},
    };
    for (const Case& c : cases) {
        Invocation line{c.invoked_as, c.user_args};
        NameFlags flags = name_flags(line);
        EXPECT_EQ(install_mode(flags, c.user_args), c.install) << c.invoked_as;
        EXPECT_EQ(choose_launch_args(flags, c.user_args), c.launch_args) << c.invoked_as;
    }
}

TEST(StartMode, WordsWithUnpairedSurrogatesAreRejected) {
    struct Case {
        std::vector<std::u16string> words;
        bool ok;
    };
    const Case cases[] = {
        {{u"q.exe", u"\U0001F600"}, true},
        {{u"q.exe", std::u16string(1, char16_t(0xD800))}, false},
        {{std::u16string(u"q") + char16_t(0xDC00), u"a"}, false},
        {{u"q.exe", std::u16string(u"a") + char16_t(0xDBFF) + u"b"}, false},
    };
    for (const Case& c : cases) {
        auto line = invocation_from_words(c.words);
        EXPECT_EQ(line.ok(), c.ok);
    }
    auto good = invocation_from_words({u"q.exe", u"a", u""});
    EXPECT_EQ(good.value.invoked_as, "q.exe");
    EXPECT_EQ(good.value.user_args, (Args{"a", ""}));
}

}  // namespace
}  // namespace quillbox
