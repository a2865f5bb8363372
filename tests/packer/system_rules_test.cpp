// The Windows layer's rules where Wine cannot show them: it has no cloud
// placeholders, and no scanner holds a new file open.
#include "system_rules.h"

#include <gtest/gtest.h>

namespace quillbox::pack {
namespace {

// Which items are links is decided and tested with the removal (is_link);
// here only what the walk does with each kind.
TEST(SystemRules, TheWalkEntersEveryFolderButLinks) {
    constexpr uint32_t SYMLINK = 0xA000000C, CLOUD = 0x9000001A;
    const struct {
        uint32_t attributes;
        uint32_t tag;
        WalkStep step;
    } cases[] = {
        {0x20, 0, WalkStep::file},
        {0x10, 0, WalkStep::enter},
        {0x10 | 0x400, CLOUD, WalkStep::enter},  // a OneDrive folder
        {0x10 | 0x400, SYMLINK, WalkStep::skip_link},
        {0x20 | 0x400, SYMLINK, WalkStep::file},  // a link to a file is read through
    };
    for (const auto& c : cases) EXPECT_EQ(walk_step(c.attributes, c.tag), c.step) << std::hex << c.tag;
}

TEST(SystemRules, RenameRetriesForAboutASecondOnlyWhileTheFileIsHeld) {
    unsigned total = 0, attempts = 1;
    while (const unsigned pause = rename_retry_pause(attempts - 1, 32)) {  // a sharing violation
        total += pause;
        ++attempts;
    }
    EXPECT_EQ(attempts, RENAME_ATTEMPTS);
    EXPECT_GE(total, 800u);
    EXPECT_LE(total, 1500u);
    EXPECT_GT(rename_retry_pause(0, 5), 0u);    // the replaced file is held open
    EXPECT_EQ(rename_retry_pause(0, 2), 0u);    // the folder is gone: no point in waiting
    EXPECT_EQ(rename_retry_pause(0, 112), 0u);  // the disk is full
}

}  // namespace
}  // namespace quillbox::pack
