// The `build` command: the stub loaded and checked, the icon and version
// block asked for read, the payload compressed from a folder or taken ready,
// and the launcher written.
#pragma once

#include <optional>

#include "command_line.h"

#include "base/error.h"

namespace quillbox::pack {

// `terminal`: standard error takes the progress line's cursor controls.
std::optional<Error> run_build(const CommandLine& line, bool terminal);

}  // namespace quillbox::pack
