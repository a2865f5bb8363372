// The packer's one gate for entry names and the launch path. The launcher joins
// names to its folder as they stand and checks nothing, so every packer command
// (pack, verify, build, unpack) refuses here what would leave the folder, what
// Windows cannot hold as a file name, and two names that Windows takes for one
// file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace quillbox::pack {

// One refused entry: its index, and why.
struct NameProblem {
    size_t entry = 0;
    std::string text;  // "entry name "x" ..."
};

// Every entry whose name cannot be an entry name (it holds a NUL or a ':', is
// not UTF-8, is rooted, goes up through "..", names no file or a folder, has a
// part of the form of the launcher's temporary files or one that Windows cannot
// hold: a reserved character, a trailing dot or space, a device name, the shape
// of a short 8.3 alias), and every later entry that Windows would take for the same file or folder as an earlier one:
// each path prefix (each folder and the full name) is compared as Windows compares names, code unit by code unit
// through the upper-case table.
std::vector<NameProblem> name_problems(const std::vector<std::string_view>& names);

// Whether `exe` can be the launch path of a payload with these (already checked)
// entries: it follows the entry-name rules and names one of them.
std::optional<Error> check_launch_path(std::string_view exe, const std::vector<std::string_view>& names);

// The names' first problem, then the launch path's, as an Error.
std::optional<Error> check_names(const std::vector<std::string_view>& names, std::string_view exe);

// Where a checked entry goes under an unpack folder: '\' and '/' separate, "."
// and empty parts are dropped.
std::filesystem::path relative_unpack_path(std::string_view name);

// Text safe to show on a terminal: C0 and C1 control characters escaped, so a
// payload's names cannot send terminal commands.
std::string printable(std::string_view text);

}  // namespace quillbox::pack
