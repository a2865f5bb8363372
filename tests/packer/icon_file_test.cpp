#include "icon_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace quillbox::pack {
namespace {

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

}  // namespace
}  // namespace quillbox::pack
