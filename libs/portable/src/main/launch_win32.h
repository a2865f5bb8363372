// Starting the unpacked application and waiting for it to end (launch_win32.cpp);
// what it is started with is decided in launch.h, split.h and environment.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillbox {

// Writes "executing <path>", starts the application with inherited standard
// handles, the launcher's environment plus QUILLBOX_APPNAME and the launcher's
// current directory, and returns its exit code once it has ended. Failures are
// fatal stops.
uint32_t launch_app(const std::u16string& launch_path, const std::vector<std::string>& launch_args);

}  // namespace quillbox
