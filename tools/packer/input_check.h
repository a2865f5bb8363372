// The inputs a command line names, checked for existence before any work, so
// that a mistyped path is reported as missing rather than as whatever the
// first reader of it would make of the failure.
#pragma once

#include <optional>

#include "command_line.h"

#include "base/error.h"

namespace quillbox::pack {

// "\"PATH\": no such file or folder" for the first input that names nothing:
// the folder or payload, the files listed, the stub, the icon and the
// program of --version-from.
std::optional<Error> missing_input(const CommandLine& line);

}  // namespace quillbox::pack
