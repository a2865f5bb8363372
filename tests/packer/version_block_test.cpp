#include "version_block.h"

#include <gtest/gtest.h>

#include "base/bytes.h"

namespace quillbox::pack {
namespace {

TEST(VersionBlock, ReadsBackItsNumbersAndStringsAndRefusesWhatCannotBeStored) {
    // Two tables (one as another program may have it: an empty value, a key
    // of odd length) and their translations, as a block copied from a program.
    const VersionInfo info{{1, 2, 65535, 0},
                           {7, 0, 0, 1},
                           {{VERSION_LANGUAGE, {{"CompanyName", "Ex Ltd"}, {"Comments", "déjà 😀"}}},
                            {"040704B0", {{"Comment", ""}, {"CompanyName", "Ex GmbH"}}}},
                           {{0x409, 1200}, {0x407, 1200}},
                           0x3F,
                           0x2};
    const Outcome<std::vector<uint8_t>> block = version_block(info);
    ASSERT_TRUE(block.ok());
    EXPECT_EQ(block.value.size() % 4, 0u);
    EXPECT_EQ(read_u16le(Bytes(block.value), 0), block.value.size());
    const Outcome<VersionInfo> read = read_version_block(Bytes(block.value.data(), block.value.size()));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value.file_version, info.file_version);
    EXPECT_EQ(read.value.product_version, info.product_version);
    ASSERT_EQ(read.value.tables.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(read.value.tables[i].language, info.tables[i].language);
        EXPECT_EQ(read.value.tables[i].strings, info.tables[i].strings);
    }
    EXPECT_EQ(read.value.translations, info.translations);
    EXPECT_EQ(read.value.flags, 2u);

    const std::string limit_key(VERSION_KEY_LIMIT, 'k');
    const std::string limit_value(VERSION_VALUE_LIMIT, 'v');
    struct Case {
        std::string key, value;
        const char* problem;  // nullptr: accepted
    };
    const Case cases[] = {
        {limit_key, limit_value, nullptr},
        {"", "x", "needs a key"},
        {"Key", "", "has an empty value"},
        {limit_key + "k", "x", "longer than 64 characters"},
        {"Key", limit_value + "v", "longer than 1024 characters"},
        {"Key", "\xFF", "valid UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.substr(0, 8) + "=" + c.value.substr(0, 8));
        const std::optional<Error> refused = check_version_string(c.key, c.value);
        ASSERT_EQ(refused.has_value(), c.problem != nullptr);
        if (c.problem) {
            EXPECT_NE(refused->text().find(c.problem), std::string::npos) << refused->text();
        }
    }
    VersionInfo full;
    for (int i = 0; i < 40; ++i) full.tables[0].strings.emplace_back("Key" + std::to_string(i), limit_value);
    const Outcome<std::vector<uint8_t>> too_large = version_block(full);
    ASSERT_FALSE(too_large.ok());
    EXPECT_NE(too_large.error->text().find("a version block holds at most 65535"), std::string::npos);
}

}  // namespace
}  // namespace quillbox::pack
