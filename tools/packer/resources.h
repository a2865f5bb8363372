// The launcher's resources as the packer reads and writes them, without a
// resource compiler: the images of an .ico file, the version block, and the
// resource section's tree. The section is placed by stub_image.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// Little-endian fields written in place, as every PE structure stores them.
void set16(std::vector<uint8_t>& out, size_t at, uint64_t value);
void set32(std::vector<uint8_t>& out, size_t at, uint64_t value);

inline constexpr uint32_t RT_ICON = 3;
inline constexpr uint32_t RT_GROUP_ICON = 14;
inline constexpr uint32_t RT_VERSION = 16;
inline constexpr uint32_t RT_MANIFEST = 24;
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

// The language block's name: US English (0409) in Unicode (04B0, code page 1200).
inline constexpr char VERSION_LANGUAGE[] = "040904B0";
inline constexpr uint16_t VERSION_LANGUAGE_ID = 0x0409;

// One string table of a version block: its name (language and code page as
// eight hex digits) and its strings, UTF-8 key and value, in the order written.
struct VersionTable {
    std::string language = VERSION_LANGUAGE;
    std::vector<std::pair<std::string, std::string>> strings;
};

// A language and code page of the Translation var.
struct VersionTranslation {
    uint16_t language = VERSION_LANGUAGE_ID;
    uint16_t codepage = 1200;  // UTF-16
    bool operator==(const VersionTranslation&) const = default;
};

// What a version block holds: four 16-bit parts each for the file and the
// product, the flags, and its string tables and translations. By default one
// table 040904B0 and its translation, as `build --version` writes them; one
// copied from another program keeps that program's tables and translations.
struct VersionInfo {
    std::array<uint16_t, 4> file_version{};
    std::array<uint16_t, 4> product_version{};
    std::vector<VersionTable> tables{VersionTable{}};
    std::vector<VersionTranslation> translations{VersionTranslation{}};
    uint32_t flags_mask = 0x3F;
    uint32_t flags = 0;  // no debug, pre-release or patched build
};

inline constexpr size_t VERSION_KEY_LIMIT = 64;      // UTF-16 units
inline constexpr size_t VERSION_VALUE_LIMIT = 1024;  // UTF-16 units

// Whether two version string keys are one: the lookup ignores ASCII case.
bool same_version_key(std::string_view a, std::string_view b);

// Whether a key and value can go into a version block: both given, UTF-8,
// within the limits and free of NUL.
std::optional<Error> check_version_string(std::string_view key, std::string_view value);

// The VS_VERSIONINFO resource; fails when it would pass the 64 KiB a block can hold.
Outcome<std::vector<uint8_t>> version_block(const VersionInfo& info);

// A version block read back, for `list`.
Outcome<VersionInfo> read_version_block(Bytes block);

// A resource's type or name: a number, or a name when `name` is not empty.
struct ResourceKey {
    uint32_t id = 0;
    std::u16string name;
    bool operator==(const ResourceKey&) const = default;
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint32_t language = 0;
    uint32_t codepage = 0;
    std::vector<uint8_t> data;
};

// The resource tree whose directory starts at `directory_rva`, inside the
// section `section` mapped at `section_rva`; every offset and every data entry
// must lie inside that section.
Outcome<std::vector<Resource>> read_resources(Bytes section, uint64_t section_rva, uint64_t directory_rva);

// The resource section for `resources`, to be mapped at `section_rva`: the
// directory with its entries sorted (names before ids, names in code-unit
// order, ids ascending), then the data, each piece 8-byte aligned.
std::vector<uint8_t> write_resources(std::vector<Resource> resources, uint32_t section_rva);

// What `build` changes in the stub's resources; nothing keeps them.
struct ResourceChanges {
    std::optional<std::vector<IconImage>> icon;
    std::optional<std::vector<uint8_t>> version;  // a version block

    bool any() const { return icon || version; }
};

// The stub's resources with the icon group's images replaced and the version
// block put in, or why the stub's resources are not ones the packer may
// rewrite: it knows the icon group QUILLBOX_ICON and its images, the manifest
// and a version block, and nothing else.
Outcome<std::vector<Resource>> changed_resources(std::vector<Resource> resources, const ResourceChanges& changes);

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

// "1.2.3.4".
std::string version_text(const std::array<uint16_t, 4>& parts);

}  // namespace quillbox::pack
