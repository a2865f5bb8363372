#include "bin_reader/extract.h"

#include <gtest/gtest.h>

#include <set>

#include "bin_reader/temporary_name.h"

namespace quillbox {
namespace {

TEST(PlanEntry, SkipsCurrentFilesAndNamesWhatItRewrites) {
    const std::string abc = "900150983cd24fb0d6963f7d28e17f72";  // md5_hex("abc")
    const std::string empty = "d41d8cd98f00b204e9800998ecf8427e";
    const std::u16string target = u"C:\\u\\quillbox\\.\\quillbox.exe";
    const std::u16string odd_target = std::u16string(u"C:\\u\\quillbox\\.\\x") + char16_t(0xD800);
    struct Case {
        std::string stored;
        std::u16string target;
        std::optional<std::string> on_disk;
        EntryAction action;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {abc, target, std::nullopt, EntryAction::write, {}},
        {abc, target, abc, EntryAction::skip, {"skip .\\quillbox.exe"}},
        {abc, target, empty, EntryAction::write, {"writing C:\\u\\quillbox\\.\\quillbox.exe", abc + " -> " + empty}},
        // The test is exact: an upper-case stored digest never matches.
        {"900150983CD24FB0D6963F7D28E17F72",
         target,
         abc,
         EntryAction::write,
         {"writing C:\\u\\quillbox\\.\\quillbox.exe", "900150983CD24FB0D6963F7D28E17F72 -> " + abc}},
        // Ill-formed stored bytes and a lone surrogate in the path are shown as U+FFFD.
        {"900150983cd24fb0d6963f7d28e17f7\xFF",
         odd_target,
         abc,
         EntryAction::write,
         {"writing C:\\u\\quillbox\\.\\x\xEF\xBF\xBD", "900150983cd24fb0d6963f7d28e17f7\xEF\xBF\xBD -> " + abc}},
    };
    for (const Case& c : cases) {
        BinEntry entry{".\\quillbox.exe", Bytes(), view_of(c.stored)};
        EntryPlan plan = plan_entry(entry, c.target, c.on_disk);
        EXPECT_EQ(plan.action, c.action) << c.stored;
        EXPECT_EQ(plan.lines, c.lines) << c.stored;
    }
}

TEST(TemporaryNames, AreMadeRecognisedAndSweptOnlyWhenNoEntryHoldsThem) {
    EXPECT_EQ(temporary_name(0, 0), u".quillbox-0-0.tmp");
    EXPECT_EQ(temporary_name(4294967295u, 4294967295u), u".quillbox-4294967295-4294967295.tmp");
    EXPECT_TRUE(is_temporary_name(temporary_name(4294967295u, 4294967295u)));
    // One counter for the process: its writers never try the same name twice.
    std::set<std::u16string> made;
    for (int i = 0; i < 200; ++i) made.insert(next_temporary_name(7));
    EXPECT_EQ(made.size(), 200u);
    const std::pair<std::u16string, bool> shapes[] = {
        {u".quillbox-12-3.tmp", true},
        {u".QUILLBOX-12-3.TMP", true},  // the same file to Windows
        {u"quillbox-12-3.tmp", false},
        {u"x.quillbox-12-3.tmp", false},
        {u".quillbox-12-3.tmp.bak", false},
        {u".quillbox-12.tmp", false},
        {u".quillbox--3.tmp", false},
        {u".quillbox-12-.tmp", false},
        {u".quillbox-1-2-3.tmp", false},
        {u".quillbox-12345678901-0.tmp", false},  // more digits than a 32-bit id has
        {u".quillbox-１-2.tmp", false},           // a full-width digit
        {u".quillbox-.tmp", false},
    };
    for (const auto& [name, temporary] : shapes) EXPECT_EQ(is_temporary_name(name), temporary) << name.size();

    // An entry of the temporary form (embedded unchecked) is never swept, in any case.
    // One whose name merely ends in the form shields nothing.
    const BinEntry entries[] = {{".\\quillbox.exe", Bytes(), Bytes()},
                                {"sub\\.Quillbox-5-0.TMP", Bytes(), Bytes()},
                                {"x.quillbox-5-1.tmp", Bytes(), Bytes()}};
    const std::pair<std::u16string, bool> listed[] = {
        {u".quillbox-5-0.tmp", false},
        {u".quillbox-5-1.tmp", true},
        {u"quillbox.exe", false},
    };
    for (const auto& [name, leftover] : listed) EXPECT_EQ(is_leftover(name, entries), leftover) << name.size();
}

}  // namespace
}  // namespace quillbox
