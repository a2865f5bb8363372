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

// Why `name` cannot be an entry name, or nothing: it holds a NUL, is not UTF-8,
// is rooted (which covers network and device paths), holds a ':' (a drive or a
// stream), goes up through "..", names no file, has a part of the form of the
// launcher's temporary files (".quillbox-1-0.tmp", which a later start would
// sweep away), or has a part that Windows cannot hold (see windows_part_problem).
std::optional<std::string> entry_name_problem(std::string_view name);

// Why Windows cannot hold `part` as one path element, or nothing: a reserved or
// control character, a trailing dot or space (dropped), a device name with any
// extension ("nul.txt", "con .txt", "COM\u00b9"), or the shape of a short 8.3
// alias ("PROGRA~1.EXE"), which can resolve to another entry's long name.
std::optional<std::string> windows_part_problem(std::string_view part);

// One refused entry: its index, and why.
struct NameProblem {
    size_t entry = 0;
    std::string text;  // "entry name "x" ..."
};

// Every entry whose name fails entry_name_problem, and every later entry that
// Windows would take for the same file or folder as an earlier one: each path
// prefix (each folder and the full name) is compared as Windows compares names,
// code unit by code unit through the upper-case table.
std::vector<NameProblem> name_problems(const std::vector<std::string_view>& names);

// Why `exe` cannot be the launch path of a payload with these (already checked)
// entries, or nothing: the entry-name rules, and it must name one of them.
std::optional<std::string> launch_path_problem(std::string_view exe, const std::vector<std::string_view>& names);

// The names' first problem, then the launch path's, as an Error.
std::optional<Error> check_names(const std::vector<std::string_view>& names, std::string_view exe);

// Where a checked entry goes under an unpack folder: '\' and '/' separate, "."
// and empty parts are dropped.
std::filesystem::path relative_unpack_path(std::string_view name);

// Text safe to show on a terminal: C0 and C1 control characters escaped, so a
// payload's names cannot send terminal commands.
std::string printable(std::string_view text);

}  // namespace quillbox::pack
