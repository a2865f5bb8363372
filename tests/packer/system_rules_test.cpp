// The Windows layer's rules where Wine cannot show them: it has no cloud
// placeholders. When a held file is tried again is tested with the launcher's
// rules (replace_test.cpp).
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

}  // namespace
}  // namespace quillbox::pack
