// What the packer says about itself: its version line, the overview, each
// command's full help, and the pointer printed after a usage mistake.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"

namespace quillbox::pack {

// "quillbox-pack 1.0.0 (brotli 1.0.9)\n": the project's version and the brotli
// the packer compresses with, which decides the bytes of every entry.
std::string version_line();

// The overview for `help` (Command::help), else that command's full help.
std::string help_text(Command topic);

// The line after a usage mistake: the help of the command the words begin
// with, else the overview.
std::string usage_hint(const std::vector<std::string_view>& args);

}  // namespace quillbox::pack
