// The child's environment block: every inherited variable plus QUILLBOX_APPNAME,
// one entry per name, names compared as the platform does (ordinal, ignoring case).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"

namespace quillbox {

inline constexpr char16_t APP_NAME_VARIABLE[] = u"QUILLBOX_APPNAME";

using EnvEntry = std::pair<std::u16string, std::u16string>;  // name, value

// Returns <0, 0 or >0. The Windows build passes CompareStringOrdinal with its
// ignore-case flag; tests pass a stand-in with the same rule.
using NameCompare = int (*)(std::u16string_view, std::u16string_view);

// Splits a block of NUL-terminated "name=value" entries (ended by an empty entry)
// at the first '=' that is not the first character; entries without one are dropped.
std::vector<EnvEntry> parse_environment_block(const char16_t* block);

// Folds names that compare equal (first spelling, last value), sets
// QUILLBOX_APPNAME the same way and writes the block in name order, closed by an
// extra NUL. Fails on a NUL inside a name or value.
Outcome<std::u16string> build_environment_block(const std::vector<EnvEntry>& inherited,
                                                std::u16string_view app_file_name, NameCompare compare);

}  // namespace quillbox
