// The decisions of the install-mode removal that need no platform: what to do
// with each item it opens. The Win32 walk is in app_dir_win32.cpp.
#pragma once

#include <cstdint>

namespace quillbox {

// What the install-mode removal does with one item it has opened without
// following it.
enum class RemovalStep {
    enter,         // a real folder: empty it, then delete it
    delete_alone,  // a file, or a link deleted as a link and never followed
};

// Only a name-surrogate reparse point (symbolic link, junction) is a link; any
// other (cloud placeholder, deduplicated file) is the ordinary file or folder
// it stands for. A folder that the file system places elsewhere than where it
// was named (Wine's view of a Unix link) is not entered either.
RemovalStep removal_step(uint32_t attributes, uint32_t reparse_tag, bool where_named);

inline constexpr uint32_t ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t ATTRIBUTE_REPARSE_POINT = 0x400;

}  // namespace quillbox
