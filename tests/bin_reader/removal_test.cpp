#include "bin_reader/removal.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

TEST(RemovalStep, OnlyNameSurrogatesCountAsLinks) {
    constexpr uint32_t FILE = 0x20, FOLDER = ATTRIBUTE_DIRECTORY, REPARSE = ATTRIBUTE_REPARSE_POINT;
    struct Case {
        const char* what;
        uint32_t attributes, tag;
        bool where_named;
        RemovalStep step;
    };
    const Case cases[] = {
        {"plain folder", FOLDER, 0, true, RemovalStep::enter},
        {"plain file", FILE, 0, true, RemovalStep::delete_alone},
        {"junction", FOLDER | REPARSE, 0xA0000003, true, RemovalStep::delete_alone},
        {"symbolic link to a folder", FOLDER | REPARSE, 0xA000000C, true, RemovalStep::delete_alone},
        {"symbolic link to a file", FILE | REPARSE, 0xA000000C, true, RemovalStep::delete_alone},
        {"cloud placeholder folder", FOLDER | REPARSE, 0x9000701A, true, RemovalStep::enter},
        {"deduplicated file", FILE | REPARSE, 0x80000013, true, RemovalStep::delete_alone},
        {"tag without the reparse attribute", FOLDER, 0xA0000003, true, RemovalStep::enter},
        {"folder that lives elsewhere", FOLDER, 0, false, RemovalStep::delete_alone},
        {"placeholder that lives elsewhere", FOLDER | REPARSE, 0x9000701A, false, RemovalStep::delete_alone},
    };
    for (const Case& c : cases) EXPECT_EQ(removal_step(c.attributes, c.tag, c.where_named), c.step) << c.what;
}

}  // namespace
}  // namespace quillbox
