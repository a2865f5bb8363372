// What `build` changes in the stub's resources: the icon group's images and
// the version block, and which resources a stub may carry for the packer to
// rewrite them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "icon_file.h"
#include "resource_tree.h"

#include "base/error.h"

namespace quillbox::pack {

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

}  // namespace quillbox::pack
