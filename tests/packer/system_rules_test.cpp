// The Windows layer's rules where Wine cannot show them: it has no cloud
// placeholders, and no scanner holds a new file open.
#include "system_rules.h"

#include <gtest/gtest.h>

namespace quillbox::pack {
namespace {

TEST(SystemRules, TheWalkEntersEveryFolderButLinks) {
    constexpr uint32_t SYMLINK = 0xA000000C, MOUNT_POINT = 0xA0000003, CLOUD = 0x9000001A, DEDUP = 0x80000013;
    const struct {
        uint32_t attributes;
        uint32_t tag;
        WalkStep step;
    } cases[] = {
        {0x20, 0, WalkStep::file},
        {0x10, 0, WalkStep::enter},
        {0x10 | 0x400, CLOUD, WalkStep::enter},  // a OneDrive folder
        {0x10 | 0x400, SYMLINK, WalkStep::skip_link},
        {0x10 | 0x400, MOUNT_POINT, WalkStep::skip_link},  // a junction
        {0x20 | 0x400, SYMLINK, WalkStep::file},           // a link to a file is read through
        {0x20 | 0x400, DEDUP, WalkStep::file},
    };
    for (const auto& c : cases) EXPECT_EQ(walk_step(c.attributes, c.tag), c.step) << std::hex << c.tag;
}

TEST(SystemRules, RenameRetriesForAboutASecondOnlyWhileTheFileIsHeld) {
    unsigned total = 0, attempts = 1;
    while (const unsigned pause = rename_retry_pause(attempts - 1, SHARING_VIOLATION)) {
        total += pause;
        ++attempts;
    }
    EXPECT_EQ(attempts, RENAME_ATTEMPTS);
    EXPECT_GE(total, 800u);
    EXPECT_LE(total, 1500u);
    EXPECT_GT(rename_retry_pause(0, ACCESS_DENIED), 0u);
    EXPECT_EQ(rename_retry_pause(0, 2), 0u);    // the folder is gone: no point in waiting
    EXPECT_EQ(rename_retry_pause(0, 112), 0u);  // the disk is full
}

}  // namespace
}  // namespace quillbox::pack
