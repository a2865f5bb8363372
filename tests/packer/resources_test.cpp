#include "resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "bin_reader/pe_builder.h"
#include "bin_reader/pe_section.h"
#include "packer/image_checks.h"
#include "stub_image.h"

namespace quillbox::pack {
namespace {

using testing::PeBuilder;

void put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> bitmap(uint32_t side, uint32_t bits) {
    std::vector<uint8_t> out;
    const uint32_t colors = bits <= 8 ? 1u << bits : 0;
    for (uint32_t v : {40u, side, 2 * side}) put(out, v, 4);
    put(out, 1, 2);
    put(out, bits, 2);
    for (uint32_t v : {0u, 0u, 0u, 0u, colors, 0u}) put(out, v, 4);
    const uint32_t rows = ((side * bits + 31) / 32 * 4 + (side + 31) / 32 * 4) * side;
    out.resize(out.size() + 4 * colors + rows, 0x5A);
    return out;
}

std::vector<uint8_t> png(uint32_t side) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {side, side}) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    }
    out.insert(out.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});  // 8-bit RGBA, then a CRC nobody checks here
    return out;
}

struct IcoImage {
    uint8_t side;  // 0 for 256
    std::vector<uint8_t> data;
};

std::vector<uint8_t> ico(const std::vector<IcoImage>& images) {
    std::vector<uint8_t> out;
    for (uint32_t v : {0u, 1u, static_cast<uint32_t>(images.size())}) put(out, v, 2);
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const IcoImage& image : images) {
        out.insert(out.end(), {image.side, image.side, 0, 0, 0, 0, 0, 0});  // planes and depth left 0
        put(out, static_cast<uint32_t>(image.data.size()), 4);
        put(out, offset, 4);
        offset += static_cast<uint32_t>(image.data.size());
    }
    for (const IcoImage& image : images) out.insert(out.end(), image.data.begin(), image.data.end());
    return out;
}

TEST(Icon, ReadsEveryImageAndTakesDepthsFromTheImagesThemselves) {
    const std::vector<uint8_t> file = ico({{16, bitmap(16, 4)}, {32, bitmap(32, 32)}, {0, png(256)}});
    const Outcome<std::vector<IconImage>> images = parse_ico(Bytes(file.data(), file.size()));
    ASSERT_TRUE(images.ok()) << images.error->text();
    ASSERT_EQ(images.value.size(), 3u);
    EXPECT_EQ(images.value[0].bit_count, 4);
    EXPECT_EQ(images.value[1].bit_count, 32);
    EXPECT_EQ(images.value[2].bit_count, 32);
    EXPECT_TRUE(images.value[2].png && !images.value[0].png);
    EXPECT_EQ(images.value[1].data, bitmap(32, 32));
    EXPECT_EQ(images.value[2].data, png(256));
    const std::vector<uint8_t> group = icon_group(images.value, 1);
    ASSERT_EQ(group.size(), 6u + 14 * 3);
    EXPECT_EQ(group[6 + 14 * 2], 0);       // 256 wide, written as 0
    EXPECT_EQ(group[6 + 14 * 2 + 12], 3);  // the third image's id
}

TEST(Icon, RefusesFilesWhoseFieldsDoNotHold) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"cut in the header", [](std::vector<uint8_t>& f) { f.resize(4); }, "truncated .ico header"},
        {"a cursor", [](std::vector<uint8_t>& f) { f[2] = 2; }, "not an .ico file"},
        {"no images", [](std::vector<uint8_t>& f) { f[4] = 0; }, "holds no image"},
        {"cut in the directory", [](std::vector<uint8_t>& f) { f.resize(20); }, "truncated .ico directory: 2 images"},
        {"image past the end", [](std::vector<uint8_t>& f) { f.resize(f.size() - 1); },
         "image 2 of 2 (33 bytes at offset 1166) lies outside the file (1198 bytes)"},
        {"image over the directory", [](std::vector<uint8_t>& f) { f[6 + 12] = 10; }, "image 1 of 2 ("},
        {"size field of 0", [](std::vector<uint8_t>& f) { std::fill_n(f.begin() + 6 + 8, 4, 0); },
         "image 1 of 2 (0 bytes"},
        {"bitmap narrower than listed", [](std::vector<uint8_t>& f) { f[6] = 8; },
         "image 1 of 2 is listed as 8x16 but its bitmap is 16x16"},
        {"bitmap whose depth needs more bytes than given", [](std::vector<uint8_t>& f) { f[38 + 14] = 8; },
         "image 1 of 2 needs 1384 bytes as a 16x16 8-bit bitmap, but the directory gives it 1128"},
        {"bitmap of 3 bits", [](std::vector<uint8_t>& f) { f[38 + 14] = 3; }, "3 bits and compression 0"},
        {"PNG larger than listed", [](std::vector<uint8_t>& f) { f[6 + 16] = 128; },
         "image 2 of 2 is listed as 128x256 but its PNG is 256x256"},
        {"PNG without IHDR", [](std::vector<uint8_t>& f) { f[1166 + 12] = 'X'; }, "a PNG without its IHDR header"},
        {"neither", [](std::vector<uint8_t>& f) { f[38] = 12; }, "has a bitmap header of 12 bytes"},
        // Each image listed goes into the launcher whole: one image listed many times would multiply.
        {"two entries over one image", [](std::vector<uint8_t>& f) { std::copy_n(f.begin() + 30, 8, f.begin() + 14); },
         "images 1 and 2 of 2 share bytes of the file from offset 1166"},
        {"two entries over one image larger than half the file",
         [](std::vector<uint8_t>& f) { std::copy_n(f.begin() + 14, 8, f.begin() + 30); },
         "the .ico directory's images take 2256 bytes in all, more than the file's 1199"},
        {"overlapping images", [](std::vector<uint8_t>& f) { f[34] = 46, f[35] = 0; },
         "images 1 and 2 of 2 share bytes of the file from offset 46"},
        {"more images than an icon may have", [](std::vector<uint8_t>& f) { f[4] = 1, f[5] = 1; },
         "lists 257 images, more than the 256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = ico({{16, bitmap(16, 32)}, {0, png(256)}});
        c.damage(file);
        const Outcome<std::vector<IconImage>> images = parse_ico(Bytes(file.data(), file.size()));
        ASSERT_FALSE(images.ok());
        EXPECT_NE(images.error->text().find(c.message), std::string::npos) << images.error->text();
    }
}

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
    EXPECT_EQ(testing::image_u16(block.value, 0), block.value.size());
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

Resource resource(ResourceKey type, ResourceKey name, std::string_view data, uint32_t language = 0x409) {
    return Resource{std::move(type), std::move(name), language, 0, std::vector<uint8_t>(data.begin(), data.end())};
}

TEST(ResourceDirectory, SortsEveryLevelAlignsTheDataAndReadsBack) {
    const std::vector<Resource> given = {
        resource({24, {}}, {1, {}}, "<assembly/>"),
        resource({3, {}}, {10, {}}, "ten"),
        resource({3, {}}, {2, {}}, "two", 0x407),
        resource({3, {}}, {2, {}}, "zwei", 0x409),
        resource({0, u"b"}, {0, u"Z"}, "named type, upper"),
        resource({0, u"b"}, {0, u"a"}, "named type, lower"),
        resource({0, u"B"}, {5, {}}, "named type B"),
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
    const std::vector<uint8_t> good = write_resources({resource({3, {}}, {1, {}}, "image")}, 0x1000);
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

TEST(ResourceChanges, ReplacesTheIconGroupKeepsTheRestAndRefusesForeignResources) {
    const std::vector<Resource> stub = {
        resource({RT_ICON, {}}, {1, {}}, "old image"),
        resource({RT_GROUP_ICON, {}}, {0, ICON_GROUP_NAME},
                 std::string("\0\0\1\0\1\0"
                             "000000000000\1\0",
                             20),
                 0),
        resource({RT_MANIFEST, {}}, {1, {}}, "<assembly/>"),
    };
    const std::vector<IconImage> images = {{16, 16, 0, 32, false, {1, 2, 3}}, {0, 0, 0, 32, true, {4, 5}}};
    const Outcome<std::vector<Resource>> changed = changed_resources(stub, {images, std::vector<uint8_t>{9}});
    ASSERT_TRUE(changed.ok()) << changed.error->text();
    std::vector<std::string> seen;
    for (const Resource& r : changed.value) {
        seen.push_back(std::to_string(r.type.id) + "/" + (r.name.name.empty() ? std::to_string(r.name.id) : "named") +
                       "/" + std::to_string(r.language) + "/" + std::to_string(r.data.size()));
    }
    // The manifest kept; two new images and the group in the old group's language; the version block.
    EXPECT_EQ(seen, (std::vector<std::string>{"3/1/0/3", "3/2/0/2", "14/named/0/34", "16/1/1033/1", "24/1/1033/11"}));

    struct Case {
        const char* what;
        Resource extra;
        const char* message;
    };
    const Case cases[] = {
        {"a bitmap", resource({2, {}}, {1, {}}, "x"), "a resource of type 2"},
        {"a named type", resource({0, u"DATA"}, {1, {}}, "x"), "a resource of type \"DATA\""},
        {"a second icon group", resource({RT_GROUP_ICON, {}}, {0, u"OTHER"}, "x"), "an icon group \"OTHER\""},
        {"an image of no group", resource({RT_ICON, {}}, {7, {}}, "x"), "icon 7, which belongs to no icon group"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Resource> foreign = stub;
        foreign.push_back(c.extra);
        const Outcome<std::vector<Resource>> refused = changed_resources(foreign, {images, std::nullopt});
        ASSERT_FALSE(refused.ok());
        EXPECT_NE(refused.error->text().find(c.message), std::string::npos) << refused.error->text();
    }
    const Outcome<std::vector<Resource>> no_group = changed_resources({stub[2]}, {images, std::nullopt});
    ASSERT_FALSE(no_group.ok());
    EXPECT_NE(no_group.error->text().find("no icon group QUILLBOX_ICON"), std::string::npos) << no_group.error->text();
}

TEST(ResourceSection, GoesBeforeThePayloadAndABuiltLauncherRebuildsToTheSameBytes) {
    const ResourceChanges changes{std::nullopt, std::vector<uint8_t>(100, 7)};
    const PeBuilder stub;
    const Outcome<std::vector<uint8_t>> first = testing::build_image(stub.view(), view_of("payload"), changes);
    ASSERT_TRUE(first.ok()) << first.error->text();
    const std::vector<uint8_t>& out = first.value;
    EXPECT_EQ(testing::loader_layout_problem(out), std::nullopt);
    EXPECT_EQ(testing::image_u32(out, PeBuilder::OPT + 64), testing::reference_checksum(out));
    EXPECT_EQ(testing::image_u16(out, PeBuilder::NT + 6), 4u);
    EXPECT_EQ(std::string(out.begin() + stub.header_of(2), out.begin() + stub.header_of(2) + 7), ".qbrsrc");
    EXPECT_EQ(testing::image_u32(out, PeBuilder::OPT + 96 + 16), 0x3000u);  // the resource directory
    EXPECT_EQ(testing::image_u32(out, stub.header_of(3) + 12), 0x4000u);    // the payload after it
    const Outcome<std::vector<Resource>> read = image_resources(Bytes(out.data(), out.size()));
    ASSERT_TRUE(read.ok() && read.value.size() == 1);
    EXPECT_EQ(read.value[0].data, *changes.version);
    for (std::string_view again : {std::string_view(""), std::string_view("other payload")}) {
        EXPECT_EQ(testing::build_image(Bytes(out), view_of(again), changes).value,
                  testing::build_image(stub.view(), view_of(again), changes).value);
    }
    // Without changes a built launcher keeps the resources it has.
    const Outcome<std::vector<uint8_t>> kept = testing::build_image(Bytes(out), view_of("x"));
    ASSERT_TRUE(kept.ok());
    EXPECT_TRUE(testing::same_resources(image_resources(Bytes(kept.value)).value, read.value));

    PeBuilder one_free = stub;  // room for the payload's header only
    one_free.set32(PeBuilder::OPT + 60, static_cast<uint32_t>(stub.header_of(3)));
    const Outcome<std::vector<uint8_t>> no_room = testing::build_image(one_free.view(), view_of("x"), changes);
    ASSERT_FALSE(no_room.ok());
    EXPECT_NE(no_room.error->text().find("no room for another section header"), std::string::npos);
}

}  // namespace
}  // namespace quillbox::pack
