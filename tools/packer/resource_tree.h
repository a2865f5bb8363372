// The resource directory of a Windows image as the packer reads and writes it,
// without a resource compiler: the tree of types, names and languages, and the
// section that holds it. The section is placed by stub_image.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

inline constexpr uint32_t RT_ICON = 3;
inline constexpr uint32_t RT_GROUP_ICON = 14;
inline constexpr uint32_t RT_VERSION = 16;
inline constexpr uint32_t RT_MANIFEST = 24;

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

// The order the directory lists resources in: by type, then name, then
// language; names before ids, names in code-unit order, ids ascending.
bool resource_less(const Resource& a, const Resource& b);

// A key as reports show it: the number, or the name in double quotes.
std::string key_text(const ResourceKey& key);

// The resource tree whose directory starts at `directory_rva`, inside the
// section `section` mapped at `section_rva`; every offset and every data entry
// must lie inside that section.
Outcome<std::vector<Resource>> read_resources(Bytes section, uint64_t section_rva, uint64_t directory_rva);

// The resource section for `resources`, to be mapped at `section_rva`: the
// directory with its entries sorted as resource_less says, then the data, each
// piece 8-byte aligned.
std::vector<uint8_t> write_resources(std::vector<Resource> resources, uint32_t section_rva);

}  // namespace quillbox::pack
