#include "entry_names.h"

#include <gtest/gtest.h>

#include "case_fold.h"

namespace quillbox::pack {
namespace {

struct Case {
    std::string name;
    const char* refusal;  // part of the expected reason; nullptr: accepted
};

TEST(EntryNames, OneEntryStaysInTheFolderAndIsAWindowsName) {
    const Case cases[] = {
        {".\\quillbox.exe", nullptr},
        {"sub/deeper\\\\lib.dll", nullptr},
        {"...x\\..x", nullptr},
        {".\\d\xC3\xA9j\xC3\xA0 vu.txt", nullptr},
        {".\\cons\\comma.txt", nullptr},
        {".\\com10.txt", nullptr},
        {".\\lpt\xC2\xB9x.txt", nullptr},
        {".\\a~1b.txt", nullptr},
        {".\\LONGNAME~1.TXT", nullptr},
        {".\\PROG~1.HTML", nullptr},
        // Leaving the folder.
        {std::string("a\0b", 3), "NUL"},
        {"..\\..\\Startup\\x.exe", "leaves the folder"},
        {"a/../../b", "leaves the folder"},
        {"C:\\Windows\\evil.dll", "drive or a stream"},
        {"C:x", "drive or a stream"},
        {"\\rooted", "is rooted"},
        {"/rooted", "is rooted"},
        {"\\\\host\\share\\x.exe", "is rooted"},
        {"\\\\.\\PhysicalDrive0", "is rooted"},
        {"\\\\?\\C:\\x", "is rooted"},
        {"\\??\\C:\\x", "is rooted"},
        {"", "names no file"},
        {".\\", "names no file"},
        {"sub\\", "names a folder"},
        {"sub\\.", "names a folder"},
        {"caf\xE9.txt", "not valid UTF-8"},
        // Names Windows cannot hold.
        {"a\\b<c", "does not allow"},
        {"tab\there", "does not allow"},
        {"x.", "dot or a space"},
        {"dir \\x", "dot or a space"},
        {"...", "dot or a space"},
        // Device names, in any case, with any extension, spaces before it, superscript digits.
        {"nul", "device name"},
        {"sub\\Nul.txt", "device name"},
        {"CON.tar.gz", "device name"},
        {"con .txt", "device name"},
        {"aux  .x", "device name"},
        {"PRN", "device name"},
        {"CONIN$", "device name"},
        {"conout$.log", "device name"},
        {"COM1", "device name"},
        {"lpt9.txt", "device name"},
        {"COM\xC2\xB9", "device name"},
        {"com\xC2\xB2.txt", "device name"},
        {"LPT\xC2\xB3", "device name"},
        // Short-name shapes that can stand for another entry's long name.
        {"PROGRA~1", "8.3"},
        {"sub\\QUILLB~1.EXE", "8.3"},
        {"PROGR~12.txt", "8.3"},
        {"A~1\\x", "8.3"},
        // The launcher's temporary files, which a later start sweeps away, in any
        // case and as any part; a name that only resembles one is an entry like any other.
        {".\\.quillbox-12-0.tmp", "temporary files"},
        {".\\.QUILLBOX-12-0.TMP\\x.dll", "temporary files"},
        {".\\.quillbox-12-0.tmp.txt", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.name));
        const std::vector<NameProblem> problems = name_problems({c.name});
        ASSERT_EQ(problems.size(), c.refusal != nullptr ? 1u : 0u) << (problems.empty() ? "" : problems.front().text);
        if (c.refusal) {
            EXPECT_NE(problems.front().text.find(c.refusal), std::string::npos) << problems.front().text;
        }
    }
}

TEST(EntryNames, TwoNamesForOneFileAreRefused) {
    struct Table {
        std::vector<std::string> names;
        std::vector<size_t> refused;  // the later entry of each clash
    };
    const Table cases[] = {
        {{".\\a", ".\\b", "sub\\a"}, {}},
        {{".\\sub\\a", "sub\\b", "sub/c"}, {}},
        {{".\\App.dll", ".\\app.dll"}, {1}},
        {{".\\x.dll", "x.dll"}, {1}},
        // A file beside a folder of the same name in another case.
        {{".\\a", ".\\A\\x"}, {1}},
        {{".\\A\\x", ".\\a"}, {1}},
        // One folder spelled two ways.
        {{".\\Lib\\x", ".\\lib\\y"}, {1}},
        // Beyond ASCII: Windows folds every letter it has an upper case for.
        {{".\\\xC3\x84.txt", ".\\\xC3\xA4.txt"}, {1}},
        // Final sigma has no upper case of its own in the platform's table.
        {{".\\\xCE\xA3", ".\\\xCF\x83", ".\\\xCF\x82"}, {1}},
        {{".\\\xD0\x96\\x", ".\\\xD0\xB6\\y"}, {1}},
        // No simple upper case of one unit: German sharp s stays apart from "SS".
        {{".\\\xC3\x9F", ".\\SS"}, {}},
        // Refused names are reported even without a clash.
        {{".\\ok", "..\\bad", ".\\OK"}, {1, 2}},
    };
    for (const Table& c : cases) {
        std::vector<std::string_view> names(c.names.begin(), c.names.end());
        std::vector<size_t> refused;
        for (const NameProblem& problem : name_problems(names)) refused.push_back(problem.entry);
        EXPECT_EQ(refused, c.refused) << printable(c.names.back());
    }
}

TEST(EntryNames, LaunchPathFollowsTheSameRulesAndNamesAnEntry) {
    const std::vector<std::string_view> names = {".\\quillbox.exe", ".\\bin\\Tool.exe"};
    const Case cases[] = {
        {".\\quillbox.exe", nullptr},
        {"quillbox.exe", nullptr},
        {".\\BIN\\tool.EXE", nullptr},
        {".\\missing.exe", "names no entry"},
        {".\\bin", "names no entry"},
        {"\\\\host\\share\\x.exe", "is rooted"},
        {"..\\quillbox.exe", "leaves the folder"},
        {"C:\\quillbox.exe", "drive"},
        {".\\nul.exe", "device name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Error> refused = check_launch_path(c.name, names);
        ASSERT_EQ(refused.has_value(), c.refusal != nullptr) << (refused ? describe(*refused) : "");
        if (c.refusal) {
            EXPECT_EQ(describe(*refused).find("invalid input: launch path"), 0u) << describe(*refused);
            EXPECT_NE(refused->text().find(c.refusal), std::string::npos) << refused->text();
        }
    }
}

TEST(EntryNames, UnpackPathDropsDotAndEmptyParts) {
    EXPECT_EQ(relative_unpack_path(".\\sub\\\\deeper/./lib.dll").generic_string(), "sub/deeper/lib.dll");
    EXPECT_EQ(relative_unpack_path("...x\\..x").generic_string(), "...x/..x");
}

TEST(EntryNames, CaseFoldingIsOneUnitToOne) {
    const std::pair<char16_t, char16_t> cases[] = {
        {u'a', u'A'},
        {u'A', u'A'},
        {u'1', u'1'},
        {u'\u00E4', u'\u00C4'},
        {u'\u00FF', u'\u0178'},
        {u'\u0101', u'\u0100'},
        {u'\u0100', u'\u0100'},
        {u'\u03C2', u'\u03C2'},
        {u'\u0131', u'\u0131'},
        {u'\u1F80', u'\u1F88'},
        {u'\u0436', u'\u0416'},
        {u'\u00DF', u'\u00DF'},
        {char16_t(0xD83D), char16_t(0xD83D)},
        {u'\uFF41', u'\uFF21'},
        {u'\uFFFF', u'\uFFFF'},
    };
    for (const auto& [unit, folded] : cases) EXPECT_EQ(int(fold_case(unit)), int(folded)) << int(unit);
}

TEST(EntryNames, PrintableEscapesTerminalControls) {
    const std::pair<std::string, std::string> cases[] = {
        {".\\\xC3\xA9t\xC3\xA9.txt", ".\\\xC3\xA9t\xC3\xA9.txt"},
        {"a\x1b[2Jb\x7f", "a\\x1b[2Jb\\x7f"},
        {"\r\n", "\\x0d\\x0a"},
        {"\xC2\x9B"
         "31m",
         "\\u009b31m"},
        {"\xC2\xA0", "\xC2\xA0"},
        {"\xC2", "\xC2"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(printable(text), shown);
}

}  // namespace
}  // namespace quillbox::pack
