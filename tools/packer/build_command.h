// The `build` command: the stub loaded and checked, the icon and version
// block asked for read, the payload compressed from a folder or taken ready,
// and the launcher written.
#pragma once

#include <filesystem>
#include <optional>

#include "command_line.h"

#include "base/error.h"

namespace quillbox::pack {

// `terminal`: standard error takes the progress line's cursor controls.
std::optional<Error> run_build(const CommandLine& line, bool terminal);

// The stub of the build tree the packer was built in: only the build tree's
// own packer names one (build_tree_stub.cpp); the shipped one names no folder
// of the machine that built it.
std::optional<std::filesystem::path> build_tree_stub();

}  // namespace quillbox::pack
