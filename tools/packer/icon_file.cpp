// The .ico reader: each image checked against its own header; and the icon
// group resource, written for new images and read back for `list`.
#include "icon_file.h"

#include <cstring>

#include "ico_directory.h"

#include "bin_reader/pe_section.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace {

using pe::inside;

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t ICO_HEADER = 6;
constexpr size_t ICO_ENTRY = 16;
constexpr size_t GROUP_HEADER = 6;
constexpr size_t GROUP_ENTRY = 14;
constexpr size_t BITMAP_HEADER = 40;

bool is_png(Bytes image) {
    return image.size() >= sizeof PNG_SIGNATURE && std::memcmp(image.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

std::string dimensions(uint64_t width, uint64_t height) { return std::to_string(width) + "x" + std::to_string(height); }
uint32_t full_size(uint8_t directory_size) { return directory_size == 0 ? 256 : directory_size; }

// A PNG image's size and depth from its IHDR chunk, against the directory's size.
std::optional<std::string> check_png(Bytes image, IconImage& out) {
    if (image.size() < 33 || read_u32be(image, 8) != 13 || std::memcmp(image.data() + 12, "IHDR", 4) != 0) {
        return "is a PNG without its IHDR header";
    }
    const uint32_t width = read_u32be(image, 16);
    const uint32_t height = read_u32be(image, 20);
    if (width != full_size(out.width) || height != full_size(out.height)) {
        return "is listed as " + dimensions(full_size(out.width), full_size(out.height)) + " but its PNG is " +
               dimensions(width, height);
    }
    const uint32_t depth = image[24];
    const uint32_t color_type = image[25];
    // The depths PNG allows for each colour type (grey, RGB, palette, grey and alpha, RGBA).
    const bool valid = (color_type == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
                       (color_type == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
                       ((color_type == 2 || color_type == 4 || color_type == 6) && (depth == 8 || depth == 16));
    if (!valid) {
        return "is a PNG of depth " + std::to_string(depth) + " and colour type " + std::to_string(color_type) +
               ", which PNG does not have";
    }
    const uint32_t channels = color_type == 2 ? 3 : color_type == 4 ? 2 : color_type == 6 ? 4 : 1;
    out.bit_count = static_cast<uint16_t>(depth * channels);
    out.png = true;
    return std::nullopt;
}

// A bitmap image: its header's size and depth against the directory's, and
// enough bytes for its palette, colour rows and mask rows.
std::optional<std::string> check_bitmap(Bytes image, IconImage& out) {
    if (image.size() < BITMAP_HEADER) return "is neither a PNG nor a bitmap with its header";
    const uint32_t header = read_u32le(image, 0);
    const int32_t width = static_cast<int32_t>(read_u32le(image, 4));
    const int32_t height = static_cast<int32_t>(read_u32le(image, 8));
    const uint32_t planes = read_u16le(image, 12);
    const uint32_t bits = read_u16le(image, 14);
    const uint32_t compression = read_u32le(image, 16);
    const uint32_t colors_used = read_u32le(image, 32);
    if (header < BITMAP_HEADER || header > image.size())
        return "has a bitmap header of " + std::to_string(header) + " bytes";
    const int64_t want_width = full_size(out.width);
    const int64_t want_height = full_size(out.height);
    if (width != want_width || height != 2 * want_height) {
        return "is listed as " + dimensions(want_width, want_height) + " but its bitmap is " +
               dimensions(width, height < 0 ? height : height / 2);
    }
    if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        compression != 0) {
        return "is a bitmap of " + std::to_string(planes) + " planes, " + std::to_string(bits) +
               " bits and compression " + std::to_string(compression) + ", which an icon cannot be";
    }
    const uint64_t palette_limit = bits <= 8 ? uint64_t{1} << bits : 0;
    if (colors_used > palette_limit && bits <= 8) return "has " + std::to_string(colors_used) + " palette colours";
    const uint64_t palette = bits <= 8 ? (colors_used != 0 ? colors_used : palette_limit) : colors_used;
    const uint64_t color_row = (uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32 * 4;
    const uint64_t mask_row = (uint64_t{static_cast<uint32_t>(width)} + 31) / 32 * 4;
    const uint64_t needed = header + 4 * palette + (color_row + mask_row) * static_cast<uint64_t>(want_height);
    if (needed > image.size()) {
        return "needs " + std::to_string(needed) + " bytes as a " + dimensions(want_width, want_height) + " " +
               std::to_string(bits) + "-bit bitmap, but the directory gives it " + std::to_string(image.size());
    }
    out.bit_count = static_cast<uint16_t>(bits);
    return std::nullopt;
}

}  // namespace

Outcome<std::vector<IconImage>> parse_ico(Bytes file) {
    using Result = std::vector<IconImage>;
    if (file.size() < ICO_HEADER) return failed<Result>(invalid_data("truncated .ico header"));
    if (read_u16le(file, 0) != 0 || read_u16le(file, 2) != 1) return failed<Result>(invalid_data("not an .ico file"));
    const size_t count = read_u16le(file, 4);
    if (count == 0) return failed<Result>(invalid_data("the .ico file holds no image"));
    if (std::optional<std::string> problem = ico_directory_problem(file)) return failed<Result>(invalid_data(*problem));
    const size_t directory_end = ICO_HEADER + ICO_ENTRY * count;
    if (!inside(0, directory_end, file.size())) {
        return failed<Result>(invalid_data("truncated .ico directory: " + std::to_string(count) + " images listed"));
    }
    Result images;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = ICO_HEADER + ICO_ENTRY * i;
        IconImage image;
        image.width = file[entry];
        image.height = file[entry + 1];
        image.colors = file[entry + 2];
        const uint64_t size = read_u32le(file, entry + 8);
        const uint64_t offset = read_u32le(file, entry + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count) + " ";
        if (size == 0 || offset < directory_end || !inside(offset, size, file.size())) {
            return failed<Result>(invalid_data(which + "(" + std::to_string(size) + " bytes at offset " +
                                               std::to_string(offset) + ") lies outside the file (" +
                                               std::to_string(file.size()) + " bytes)"));
        }
        const Bytes data = file.subspan(offset, size);
        if (std::optional<std::string> problem = is_png(data) ? check_png(data, image) : check_bitmap(data, image)) {
            return failed<Result>(invalid_data(which + *problem));
        }
        image.data.assign(data.begin(), data.end());
        images.push_back(std::move(image));
    }
    return succeeded(std::move(images));
}

std::vector<uint8_t> icon_group(const std::vector<IconImage>& images, uint16_t first_id) {
    std::vector<uint8_t> out;
    put_u16le(out, 0);
    put_u16le(out, 1);
    put_u16le(out, images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        out.insert(out.end(), {image.width, image.height, image.colors, 0});
        put_u16le(out, 1);  // planes
        put_u16le(out, image.bit_count);
        put_u32le(out, image.data.size());
        put_u16le(out, first_id + i);
    }
    return out;
}

std::optional<std::vector<uint32_t>> icon_group_ids(Bytes group) {
    const size_t count = group.size() >= GROUP_HEADER ? read_u16le(group, 4) : 0;
    if (group.size() < GROUP_HEADER || group.size() < GROUP_HEADER + GROUP_ENTRY * count) return std::nullopt;
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < count; ++i) ids.push_back(read_u16le(group, GROUP_HEADER + GROUP_ENTRY * i + 12));
    return ids;
}

std::vector<IconSize> icon_sizes(const std::vector<Resource>& resources) {
    std::vector<IconSize> out;
    for (const Resource& group : resources) {
        if (group.type.id != RT_GROUP_ICON || !group.type.name.empty()) continue;
        const Bytes g(group.data.data(), group.data.size());
        const size_t count = g.size() >= GROUP_HEADER ? read_u16le(g, 4) : 0;
        for (size_t i = 0; i < count && GROUP_HEADER + GROUP_ENTRY * (i + 1) <= g.size(); ++i) {
            const size_t at = GROUP_HEADER + GROUP_ENTRY * i;
            const uint32_t id = read_u16le(g, at + 12);
            IconSize size{full_size(g[at]), full_size(g[at + 1]), static_cast<uint16_t>(read_u16le(g, at + 6)), false};
            for (const Resource& image : resources) {
                size.png = size.png || (image.type.id == RT_ICON && image.name.name.empty() && image.name.id == id &&
                                        is_png(Bytes(image.data.data(), image.data.size())));
            }
            out.push_back(size);
        }
    }
    return out;
}

std::string icon_size_text(const IconSize& size) {
    return dimensions(size.width, size.height) + " " + std::to_string(size.bits) + "-bit" + (size.png ? " PNG" : "");
}

}  // namespace quillbox::pack
