// Resources as the packer's tests build them: a type, a name, the bytes and a
// language (US English unless given).
#pragma once

#include <string_view>
#include <vector>

#include "resource_tree.h"

namespace quillbox::testing {

inline pack::Resource resource_of(pack::ResourceKey type, pack::ResourceKey name, std::vector<uint8_t> data,
                                  uint32_t language = 0x409) {
    return pack::Resource{std::move(type), std::move(name), language, 0, std::move(data)};
}

inline pack::Resource resource_of(pack::ResourceKey type, pack::ResourceKey name, std::string_view data,
                                  uint32_t language = 0x409) {
    return resource_of(std::move(type), std::move(name), std::vector<uint8_t>(data.begin(), data.end()), language);
}

}  // namespace quillbox::testing
