#include "program_resources.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/bytes.h"
#include "bin_reader/pe_builder.h"
#include "packer/resource_builder.h"

namespace quillbox::pack {
namespace {

using testing::PeBuilder;

constexpr uint32_t RSRC_RVA = 0x3000;

void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A 32-bit bitmap icon image `side` pixels wide, its pixels all `fill`.
std::vector<uint8_t> icon_bitmap(uint32_t side, uint8_t fill) {
    std::vector<uint8_t> out;
    for (uint32_t v : {40u, side, 2 * side}) put_le(out, v, 4);
    put_le(out, 1, 2);
    put_le(out, 32, 2);
    out.resize(40, 0);
    out.resize(40 + (4 * side + (side + 31) / 32 * 4) * side, fill);
    return out;
}

// An icon group listing images of the given sides and ids.
std::vector<uint8_t> icon_group_of(const std::vector<std::pair<uint8_t, uint16_t>>& sides_and_ids) {
    std::vector<uint8_t> out;
    for (uint32_t v : {0u, 1u, static_cast<uint32_t>(sides_and_ids.size())}) put_le(out, v, 2);
    for (const auto& [side, id] : sides_and_ids) {
        out.insert(out.end(), {side, side, 0, 0, 1, 0, 32, 0});
        put_le(out, static_cast<uint32_t>(icon_bitmap(side, 0).size()), 4);
        put_le(out, id, 2);
    }
    return out;
}

Resource icon_image(uint16_t id, uint8_t side, uint8_t fill, uint32_t language = 0x409) {
    return testing::resource_of({RT_ICON, {}}, {id, {}}, icon_bitmap(side, fill), language);
}

Resource group(ResourceKey name, const std::vector<std::pair<uint8_t, uint16_t>>& images, uint32_t language = 0x409) {
    return testing::resource_of({RT_GROUP_ICON, {}}, std::move(name), icon_group_of(images), language);
}

// A program whose resource section, at RSRC_RVA, holds `resources`.
std::vector<uint8_t> program_with(const std::vector<Resource>& resources) {
    PeBuilder pe;
    const std::vector<uint8_t> section = write_resources(resources, RSRC_RVA);
    const uint32_t raw = static_cast<uint32_t>((section.size() + 511) / 512 * 512);
    pe.section(".rsrc", static_cast<uint32_t>(section.size()), RSRC_RVA, 0, raw);
    std::copy(section.begin(), section.end(), pe.bytes.end() - raw);
    pe.set32(PeBuilder::OPT + 96 + 8 * 2, RSRC_RVA);
    pe.set32(PeBuilder::OPT + 96 + 8 * 2 + 4, static_cast<uint32_t>(section.size()));
    return pe.bytes;
}

// A program holding `images` and `groups`, then changed by `change` if given.
std::vector<uint8_t> program_of(std::vector<Resource> images, const std::vector<Resource>& groups,
                                const std::function<void(std::vector<uint8_t>&)>& change) {
    images.insert(images.end(), groups.begin(), groups.end());
    std::vector<uint8_t> file = program_with(images);
    if (change) change(file);
    return file;
}

// Where, in the file, the table that `path` leads to from the root lies
// (each step: the index of the entry followed).
size_t table_offset(const std::vector<uint8_t>& file, std::initializer_list<size_t> path) {
    const size_t rsrc = 512 * 3;  // .rsrc's data follows the headers, .text and .rdata
    size_t at = rsrc;
    for (size_t index : path) at = rsrc + (read_u32le(Bytes(file), at + 16 + 8 * index + 4) & 0x7FFFFFFF);
    return at;
}

TEST(ProgramIcon, TakesTheFirstGroupInTheDirectorysOrderWithItsLanguagesImages) {
    // Images: ids 1..4, each of its own colour, id 2 in two languages.
    const std::vector<Resource> images = {icon_image(1, 16, 0x11), icon_image(2, 16, 0x22, 0x407),
                                          icon_image(2, 16, 0x2F), icon_image(3, 32, 0x33), icon_image(4, 16, 0x44)};
    struct Case {
        const char* what;
        std::vector<Resource> groups;
        std::function<void(std::vector<uint8_t>&)> change;
        std::vector<uint8_t> fills;  // of the images expected, in order
    };
    const Case cases[] = {
        {"numbered groups: the lowest",
         {group({7, {}}, {{16, 4}}), group({3, {}}, {{16, 1}, {32, 3}})},
         {},
         {0x11, 0x33}},
        {"a named group before numbered ones",
         {group({1, {}}, {{16, 1}}), group({0, u"ZMAIN"}, {{16, 4}})},
         {},
         {0x44}},
        {"named groups in the order stored",
         {group({0, u"A"}, {{16, 1}}), group({0, u"B"}, {{16, 4}})},
         [](std::vector<uint8_t>& file) {
             // Type 14 is the root's second entry (after RT_ICON); swap its two names.
             const size_t names = table_offset(file, {1});
             std::swap_ranges(file.begin() + names + 16, file.begin() + names + 24, file.begin() + names + 24);
         },
         {0x44}},
        {"the group's first language, and its images in that language",
         {group({1, {}}, {{16, 1}}, 0x409), group({1, {}}, {{16, 2}}, 0x407)},
         {},
         {0x22}},
        {"an image missing in the group's language: its first",
         {group({1, {}}, {{16, 2}, {16, 1}}, 0x40C)},
         {},
         {0x22, 0x11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> file = program_of(images, c.groups, c.change);
        ASSERT_TRUE(is_windows_program(Bytes(file)));
        const Outcome<std::vector<IconImage>> icon = program_icon(Bytes(file));
        ASSERT_TRUE(icon.ok()) << icon.error->text();
        std::vector<uint8_t> fills;
        for (const IconImage& image : icon.value) {
            EXPECT_EQ(image.data, icon_bitmap(image.width, image.data.back()));
            fills.push_back(image.data.back());
        }
        EXPECT_EQ(fills, c.fills);
    }
}

TEST(ProgramIcon, RefusesGroupsAndDirectoriesThatLieAndProgramsWithout) {
    const std::vector<Resource> images = {icon_image(1, 16, 0x11), icon_image(2, 16, 0x22)};
    std::vector<std::pair<uint8_t, uint16_t>> too_many(ICO_IMAGE_LIMIT + 1, {16, 1});
    struct Case {
        const char* what;
        std::vector<Resource> groups;
        std::function<void(std::vector<uint8_t>&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"no group", {}, {}, "the program has no icon group"},
        {"an image listed twice",
         {group({1, {}}, {{16, 1}, {16, 2}, {16, 1}})},
         {},
         "image 3 (id 1) shares its data with image 1"},
        {"more images than an icon holds", {group({1, {}}, too_many)}, {}, "lists 257 images; an icon holds 1 to 256"},
        {"an image it lacks", {group({1, {}}, {{16, 9}})}, {}, "image 1 (id 9), which it lacks"},
        {"an image other than listed",
         {group({1, {}}, {{32, 1}})},
         {},
         "its main icon group: image 1 of 1 is listed as 32x32 but its bitmap is 16x16"},
        {"a name table that leads back to the root",
         {group({1, {}}, {{16, 1}})},
         [](std::vector<uint8_t>& file) {
             const size_t root = table_offset(file, {});
             file[root + 16 + 8 + 4] = 0;  // type 14's table: the root itself
             file[root + 16 + 8 + 5] = 0;
         },
         "a language with a table instead of data"},
        {"image data past the section",
         {group({1, {}}, {{16, 1}})},
         [](std::vector<uint8_t>& file) {
             const size_t entry = table_offset(file, {0, 0});  // RT_ICON 1's languages
             const size_t data = table_offset(file, {}) + read_u32le(Bytes(file), entry + 16 + 4);
             file[data + 6] = 1;  // 64 KiB more
         },
         "the data of a resource lies outside the file's sections"},
        {"no PE header",
         {},
         [](std::vector<uint8_t>& file) { file.resize(0x40); },
         "not a Windows program: no PE signature at offset 64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> file = program_of(images, c.groups, c.change);
        const Outcome<std::vector<IconImage>> icon = program_icon(Bytes(file));
        ASSERT_FALSE(icon.ok());
        EXPECT_NE(icon.error->text().find(c.message), std::string::npos) << icon.error->text();
    }
}

TEST(ProgramVersion, CopiesEveryTableAndTheOptionsOverrideSingleFields) {
    VersionInfo source;
    source.file_version = source.product_version = {3, 1, 4, 1};
    source.flags = 0x8;  // a private build
    source.tables = {{VERSION_LANGUAGE, {{"CompanyName", "Ex Ltd"}, {"FileVersion", "3.1.4.1 beta"}}},
                     {"040704B0", {{"CompanyName", "Ex GmbH"}}}};
    source.translations = {{0x409, 1200}, {0x407, 1200}};
    const std::vector<uint8_t> block = version_block(source).value;
    const std::vector<uint8_t> file = program_with({testing::resource_of({RT_VERSION, {}}, {1, {}}, block)});
    const Outcome<VersionInfo> copied = program_version(Bytes(file));
    ASSERT_TRUE(copied.ok()) << copied.error->text();
    // Copied as it was: written again, the same bytes.
    EXPECT_EQ(version_block(with_version_options(copied.value, std::nullopt, {})).value, block);

    const VersionInfo changed =
        with_version_options(copied.value, std::array<uint16_t, 4>{9, 8, 7, 6}, {{"companyname", "New Ltd"}});
    EXPECT_EQ(changed.file_version, (std::array<uint16_t, 4>{9, 8, 7, 6}));
    EXPECT_EQ(changed.product_version, changed.file_version);
    EXPECT_EQ(changed.flags, 0x8u);
    ASSERT_EQ(changed.tables.size(), 2u);
    EXPECT_EQ(changed.tables[0].strings,
              (std::vector<std::pair<std::string, std::string>>{
                  {"CompanyName", "New Ltd"}, {"FileVersion", "9.8.7.6"}, {"ProductVersion", "9.8.7.6"}}));
    EXPECT_EQ(changed.tables[1].strings,
              (std::vector<std::pair<std::string, std::string>>{
                  {"CompanyName", "New Ltd"}, {"FileVersion", "9.8.7.6"}, {"ProductVersion", "9.8.7.6"}}));
    EXPECT_EQ(changed.translations, source.translations);

    // A block without string tables: a string given gets the default table, not dropped.
    VersionInfo bare = source;
    bare.tables.clear();
    bare.translations.clear();
    const VersionInfo filled = with_version_options(bare, std::nullopt, {{"ProductName", "Ex"}});
    ASSERT_EQ(filled.tables.size(), 1u);
    EXPECT_EQ(filled.tables[0].language, VERSION_LANGUAGE);
    EXPECT_EQ(filled.tables[0].strings, (std::vector<std::pair<std::string, std::string>>{{"ProductName", "Ex"}}));
    EXPECT_EQ(filled.translations, std::vector<VersionTranslation>{VersionTranslation{}});

    const Outcome<VersionInfo> none = program_version(Bytes(program_with({icon_image(1, 16, 0)})));
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error->text(), "the program has no version block");
}

}  // namespace
}  // namespace quillbox::pack
