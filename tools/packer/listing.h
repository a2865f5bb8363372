// What `list` prints of a payload or a built launcher: text for people, or one
// JSON document for scripts, whose keys are always present and always the
// same so that a CI check or an inventory tool can rely on them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "icon_file.h"
#include "version_block.h"

#include "bin_reader/bin_reader.h"
#include "bin_reader/exit_code_setting.h"

namespace quillbox::pack {

// What a built launcher carries beside its payload.
struct LauncherFacts {
    ExitCodeMode exit_code = ExitCodeMode::zero;
    std::vector<IconSize> icon;
    std::vector<VersionInfo> versions;  // the version blocks, normally one
};

// What `list` found: each entry's plain size (none when its stream does not
// decode) in payload order, and the launcher's facts (none for a payload file).
struct Listing {
    const BinReader& reader;
    std::vector<std::optional<uint64_t>> plain_sizes;
    std::optional<LauncherFacts> launcher;
};

// One tab-separated line per entry, the launch path, the exit code setting,
// the icon and the version blocks.
std::string listing_text(const Listing& listing);

// The document: "launcher" (whether the file is a built launcher),
// "launch_path", "entries" (each "name", "compressed_size", "plain_size" or
// null, "md5"), "icon" (each "width", "height", "bits", "png"; [] for a
// payload file) and "version" (the first block's "file_version",
// "product_version", "strings" and "tables"; null when there is none) and
// "exit_code" ("app" or "zero"; null for a payload file).
std::string listing_json(const Listing& listing);

}  // namespace quillbox::pack
