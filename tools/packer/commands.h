// The packer's commands over a parsed command line (`build` in
// build_command.h). Each writes its own results and returns the one failure
// to report, or nothing.
#pragma once

#include <optional>

#include "command_line.h"

#include "base/error.h"

namespace quillbox::pack {

// `terminal`: standard error takes the progress line's cursor controls.
std::optional<Error> run_command(const CommandLine& line, bool terminal);

// "quillbox-pack: " and the failure's text, on standard error: the one form
// every failure takes.
void report_failure(const Error& error);

}  // namespace quillbox::pack
