// The stub's resources as `build` changes them: checked to be ones the packer
// knows, then the icon group's images replaced and the version block put in.
#include "resource_changes.h"

#include <algorithm>
#include <string>

#include "version_block.h"

namespace quillbox::pack {
namespace {

Error foreign(const std::string& what) {
    return invalid_input("the stub carries " + what + ", which the packer does not rewrite");
}

// The stub's icon group QUILLBOX_ICON (null where it has none), or the first
// resource the packer may not rewrite.
Outcome<const Resource*> rewritable_icon_group(const std::vector<Resource>& resources) {
    using Result = const Resource*;
    const Resource* group = nullptr;
    for (const Resource& r : resources) {
        const uint32_t type = r.type.id;
        const bool known = r.type.name.empty() &&
                           (type == RT_ICON || type == RT_GROUP_ICON || type == RT_VERSION || type == RT_MANIFEST);
        if (!known) return failed<Result>(foreign("a resource of type " + key_text(r.type)));
        if (type == RT_GROUP_ICON) {
            if (r.name.name != ICON_GROUP_NAME || group) {
                return failed<Result>(
                    foreign("an icon group " + key_text(r.name) + " besides " + utf16_to_utf8_lossy(ICON_GROUP_NAME)));
            }
            group = &r;
        }
        if ((type == RT_VERSION || type == RT_ICON) && !r.name.name.empty()) {
            return failed<Result>(foreign("a resource named " + key_text(r.name) + " of type " + key_text(r.type)));
        }
    }
    if (!group) return succeeded(group);
    // Every image must belong to the group: those are the ones replaced.
    const std::optional<std::vector<uint32_t>> ids = icon_group_ids(Bytes(group->data.data(), group->data.size()));
    if (!ids) return failed<Result>(foreign("a damaged icon group"));
    for (const Resource& r : resources) {
        if (r.type.id == RT_ICON && std::find(ids->begin(), ids->end(), r.name.id) == ids->end()) {
            return failed<Result>(foreign("icon " + key_text(r.name) + ", which belongs to no icon group"));
        }
    }
    return succeeded(group);
}

// The images numbered from 1 and their group, in the old group's language and code page.
void replace_icon(std::vector<Resource>& resources, uint32_t language, uint32_t codepage,
                  const std::vector<IconImage>& images) {
    std::erase_if(resources, [](const Resource& r) { return r.type.id == RT_ICON || r.type.id == RT_GROUP_ICON; });
    for (size_t i = 0; i < images.size(); ++i) {
        resources.push_back(
            Resource{{RT_ICON, {}}, {static_cast<uint32_t>(i + 1), {}}, language, codepage, images[i].data});
    }
    resources.push_back(Resource{{RT_GROUP_ICON, {}}, {0, ICON_GROUP_NAME}, language, codepage, icon_group(images, 1)});
}

}  // namespace

Outcome<std::vector<Resource>> changed_resources(std::vector<Resource> resources, const ResourceChanges& changes) {
    using Result = std::vector<Resource>;
    const Outcome<const Resource*> group = rewritable_icon_group(resources);
    if (!group.ok()) return failed<Result>(*group.error);
    if (changes.icon && !group.value) {
        return failed<Result>(invalid_input("the stub has no icon group " + utf16_to_utf8_lossy(ICON_GROUP_NAME) +
                                            " for --icon to replace"));
    }
    if (changes.icon) replace_icon(resources, group.value->language, group.value->codepage, *changes.icon);
    if (changes.version) {
        std::erase_if(resources, [](const Resource& r) { return r.type.id == RT_VERSION; });
        resources.push_back(Resource{{RT_VERSION, {}}, {1, {}}, VERSION_LANGUAGE_ID, 0, *changes.version});
    }
    std::stable_sort(resources.begin(), resources.end(), resource_less);  // in the order they are written and read
    return succeeded(std::move(resources));
}

}  // namespace quillbox::pack
