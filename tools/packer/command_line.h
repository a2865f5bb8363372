// The packer's command line as a record: which command, its inputs and options.
// Pure, so that every accepted and refused form is a row of a unit table.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload_writer.h"

#include "bin_reader/exit_code_setting.h"
#include "base/error.h"

namespace quillbox::pack {

enum class Command { help, version, pack, build, list, verify, unpack };

struct CommandLine {
    Command command = Command::help;
    Command help_topic = Command::help;          // help: the command asked about, or help for the overview
    std::filesystem::path out;                   // pack, build: the file written; unpack: the folder
    std::optional<std::filesystem::path> input;  // the folder or payload (build, pack), the payload or exe (others)
    std::vector<std::filesystem::path> files;    // pack --files
    bool files_given = false;
    std::string exe{DEFAULT_EXE};
    bool exe_given = false;
    CompressOptions compress;
    bool compress_given = false;
    bool use_cache = true;  // --no-cache: none; the folder, when given, is compress.cache
    std::optional<std::filesystem::path> stub;
    bool verify = true;
    bool quiet = false;
    // build: the icon file (or program) and the version block (none unless asked for)
    std::optional<std::filesystem::path> icon;
    std::optional<std::filesystem::path> version_from;  // a program whose version block is copied
    std::optional<std::array<uint16_t, 4>> version;
    std::vector<std::pair<std::string, std::string>> version_strings;  // in the order given
    // build: the launcher's exit status; none given keeps what the stub has
    std::optional<ExitCodeMode> exit_code;
    // build, verify: unsigned Windows programs in the payload are an error, not a note
    bool require_signed = false;
    bool json = false;  // list --json
};

// The command a word names (build, pack, list, verify, unpack), if any.
std::optional<Command> command_named(std::string_view word);

// The record for the packer's arguments (without the program name), or the
// usage error's text.
Outcome<CommandLine> parse_command_line(const std::vector<std::string_view>& args);

}  // namespace quillbox::pack
