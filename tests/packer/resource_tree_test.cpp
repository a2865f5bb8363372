#include "resource_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/bytes.h"
#include "packer/resource_builder.h"

namespace quillbox::pack {
namespace {

TEST(ResourceDirectory, SortsEveryLevelAlignsTheDataAndReadsBack) {
    const std::vector<Resource> given = {
        testing::resource_of({24, {}}, {1, {}}, "<assembly/>"),
        testing::resource_of({3, {}}, {10, {}}, "ten"),
        testing::resource_of({3, {}}, {2, {}}, "two", 0x407),
        testing::resource_of({3, {}}, {2, {}}, "zwei", 0x409),
        testing::resource_of({0, u"b"}, {0, u"Z"}, "named type, upper"),
        testing::resource_of({0, u"b"}, {0, u"a"}, "named type, lower"),
        testing::resource_of({0, u"B"}, {5, {}}, "named type B"),
    };
    const uint32_t rva = 0x5000;
    const std::vector<uint8_t> section = write_resources(given, rva);
    const Bytes view(section.data(), section.size());
    // Root: two named types ("B" before "b": code units), then ids 3 and 24.
    EXPECT_EQ(read_u16le(view, 12), 2u);
    EXPECT_EQ(read_u16le(view, 14), 2u);
    auto name_at = [&](uint32_t field) {
        const size_t at = field & 0x7FFFFFFF;
        return std::u16string(1, char16_t(read_u16le(view, at + 2)));
    };
    EXPECT_EQ(name_at(read_u32le(view, 16)), u"B");
    EXPECT_EQ(name_at(read_u32le(view, 24)), u"b");
    EXPECT_EQ(read_u32le(view, 32), 3u);
    EXPECT_EQ(read_u32le(view, 40), 24u);
    const Outcome<std::vector<Resource>> read = read_resources(view, rva, rva);
    ASSERT_TRUE(read.ok()) << read.error->text();
    std::vector<std::string> order;
    for (const Resource& r : read.value) order.emplace_back(r.data.begin(), r.data.end());
    EXPECT_EQ(order, (std::vector<std::string>{"named type B", "named type, upper", "named type, lower", "two", "zwei",
                                               "ten", "<assembly/>"}));
    // Each resource's bytes start 8-byte aligned inside the section.
    for (const Resource& r : given) {
        const auto at = std::search(section.begin(), section.end(), r.data.begin(), r.data.end());
        ASSERT_NE(at, section.end());
        EXPECT_EQ((at - section.begin()) % 8, 0);
    }
    // Written again from what was read: the same bytes.
    EXPECT_EQ(write_resources(read.value, rva), section);
}

TEST(ResourceDirectory, RefusesDirectoriesThatLieOrThatStandForMoreThanTheSectionHolds) {
    const std::vector<uint8_t> good = write_resources({testing::resource_of({3, {}}, {1, {}}, "image")}, 0x1000);
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"table past the end", [](std::vector<uint8_t>& s) { s[20] = 0xF0; }, "a table lies outside the section"},
        {"data past the end", [](std::vector<uint8_t>& s) { s[16 * 3 + 24 + 5] = 0x10; },
         "the data of a resource lies outside the section"},
        {"a table that lists itself",
         [](std::vector<uint8_t>& s) {
             // The root's one type points back at the root, 4000 times over.
             s[14] = 0xA0;
             s[15] = 0x0F;
             s.resize(16 + 8 * 4000, 0);
             std::fill(s.begin() + 16, s.end(), 0);
             for (size_t i = 0; i < 4000; ++i) {
                 s[16 + 8 * i] = 3;
                 s[16 + 8 * i + 7] = 0x80;
             }
         },
         "its tables are shared"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> section = good;
        c.damage(section);
        const Outcome<std::vector<Resource>> read =
            read_resources(Bytes(section.data(), section.size()), 0x1000, 0x1000);
        ASSERT_FALSE(read.ok());
        EXPECT_NE(read.error->text().find(c.message), std::string::npos) << read.error->text();
    }
}

}  // namespace
}  // namespace quillbox::pack
