// The packer's five commands over a parsed command line. Each writes its own
// results and returns the one failure to report, or nothing.
#pragma once

#include <filesystem>
#include <optional>

#include "command_line.h"

#include "base/error.h"

namespace quillbox::pack {

// `terminal`: standard error takes the progress line's cursor controls.
std::optional<Error> run_command(const CommandLine& line, bool terminal);

// "quillbox-pack: " and the failure's text, on standard error: the one form
// every failure takes.
void report_failure(const Error& error);

// The stub of the build tree the packer was built in: only the build tree's
// own packer names one (build_tree_stub.cpp); the shipped one names no folder
// of the machine that built it.
std::optional<std::filesystem::path> build_tree_stub();

}  // namespace quillbox::pack
