// Starting the unpacked application and waiting for it to end.
#pragma once

#include <string>
#include <vector>

#include "main/error.h"

namespace quillbox {

// Writes "executing <path>", starts the application with inherited standard
// handles, the launcher's environment plus QUILLBOX_APPNAME and the launcher's
// current directory, and returns once it has ended. Failures are fatal stops.
void launch_app(const std::u16string& launch_path, const std::vector<std::string>& launch_args);

// The launcher's file name in the quoted form used by the "failed to execute " report.
std::string quoted_name(std::string_view name);

}  // namespace quillbox
