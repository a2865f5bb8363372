// Starting the unpacked application, the decisions that need no platform: the
// program name handed to the system and the launcher's name in reports. The
// start itself is in launch_win32.h.
#pragma once

#include <string>
#include <vector>

#include "bin_reader/path.h"
#include "base/error.h"

namespace quillbox {

// Whether a file of that name exists (GetFileAttributesW succeeds for it).
using FileExistsFn = bool (*)(const std::u16string& path);

// The application name handed to CreateProcessW: the launch path as user_path
// forms it, with ".exe" appended when the path lacks that ending (in any case)
// and a file of the longer name exists. Fails when the path has no file name.
Outcome<std::u16string> resolve_program(const std::u16string& launch_path, FileExistsFn file_exists,
                                        FullPathFn full_path);

// The launcher's file name in the quoted form used by the "failed to execute " report.
std::string quoted_name(std::string_view name);

}  // namespace quillbox
