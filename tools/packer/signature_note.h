// The note `build` and `verify` give on the payload's Windows programs that
// carry no signature, or with --require-signed the failure: systems that block
// unsigned code judge the unpacked files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "payload_writer.h"

#include "bin_reader/bin_reader.h"
#include "base/error.h"

namespace quillbox::pack {

// Whether an entry is a Windows program by its name (.exe or .dll).
bool is_program_name(std::string_view name);

// Whether a program's decoded content is an image without a signature.
bool unsigned_program(const ChunkedBytes& plain);

// The unsigned programs among compressed entries, from the start of each program alone.
std::vector<std::string> unsigned_programs(const std::vector<PackedEntry>& entries);
std::vector<std::string> unsigned_programs(const std::vector<BinEntry>& entries);

// A note naming the unsigned programs on standard error (unless --quiet), or
// with --require-signed the failure.
std::optional<Error> report_unsigned(const std::vector<std::string>& names, const CommandLine& line);

}  // namespace quillbox::pack
