// The .ico file as the packer reads it for --icon: its images, each checked
// against its own header, and the icon group resource that lists them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "resource_tree.h"

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// The launcher's icon group, the one `build --icon` replaces.
inline constexpr char16_t ICON_GROUP_NAME[] = u"QUILLBOX_ICON";

// One image of an icon, with the fields its group entry carries. Width and
// height 0 stand for 256, as in the .ico directory.
struct IconImage {
    uint8_t width = 0;
    uint8_t height = 0;
    uint8_t colors = 0;
    uint16_t bit_count = 0;
    bool png = false;
    std::vector<uint8_t> data;
};

// The images of an .ico file, each checked against its own header: a PNG's
// size, or a bitmap's size, depth and the bytes they need. The error says
// which image and what is wrong, not which file.
Outcome<std::vector<IconImage>> parse_ico(Bytes file);

// The icon group resource (GRPICONDIR) for images given the ids first_id,
// first_id + 1, ...
std::vector<uint8_t> icon_group(const std::vector<IconImage>& images, uint16_t first_id);

// The ids of the images an icon group lists; nothing when the group is cut short.
std::optional<std::vector<uint32_t>> icon_group_ids(Bytes group);

// One image of the icon group, as `list` shows it.
struct IconSize {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    bool png = false;
};

// The icon group's images, in group order.
std::vector<IconSize> icon_sizes(const std::vector<Resource>& resources);

// "48x48 32-bit PNG".
std::string icon_size_text(const IconSize& size);

}  // namespace quillbox::pack
