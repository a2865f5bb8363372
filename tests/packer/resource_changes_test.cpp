#include "resource_changes.h"

#include <gtest/gtest.h>

#include "packer/resource_builder.h"

namespace quillbox::pack {
namespace {

TEST(ResourceChanges, ReplacesTheIconGroupKeepsTheRestAndRefusesForeignResources) {
    const std::vector<Resource> stub = {
        testing::resource_of({RT_ICON, {}}, {1, {}}, "old image"),
        testing::resource_of({RT_GROUP_ICON, {}}, {0, ICON_GROUP_NAME},
                             std::string("\0\0\1\0\1\0"
                                         "000000000000\1\0",
                                         20),
                             0),
        testing::resource_of({RT_MANIFEST, {}}, {1, {}}, "<assembly/>"),
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
        {"a bitmap", testing::resource_of({2, {}}, {1, {}}, "x"), "a resource of type 2"},
        {"a named type", testing::resource_of({0, u"DATA"}, {1, {}}, "x"), "a resource of type \"DATA\""},
        {"a second icon group", testing::resource_of({RT_GROUP_ICON, {}}, {0, u"OTHER"}, "x"),
         "an icon group \"OTHER\""},
        {"an image of no group", testing::resource_of({RT_ICON, {}}, {7, {}}, "x"),
         "icon 7, which belongs to no icon group"},
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

}  // namespace
}  // namespace quillbox::pack
