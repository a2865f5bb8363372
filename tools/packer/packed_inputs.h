// What `pack` and `build` take from a folder or a list of files: the output
// checked first, the inputs through the name gate, compressed with the cache
// and the progress line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "command_line.h"
#include "payload_writer.h"
#include "progress.h"

#include "base/error.h"

namespace quillbox::pack {

// Why the output cannot be written (its folder is missing, or it is a
// folder), checked before compressing, which can take minutes.
std::optional<Error> output_problem(const std::filesystem::path& out);

// The compressed entries of the folder or the files the command line names,
// their names and the launch path through the gate and the output not among
// them; warnings on standard error unless --quiet.
Outcome<PackedEntries> packed_inputs(const CommandLine& line, bool terminal, Clock::time_point start);

// " (40 from the cache, 4 compressed)"
std::string cache_counts(const PackedEntries& packed);

}  // namespace quillbox::pack
