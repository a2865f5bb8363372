// Bringing the per-user folder up to date with the payload: each entry's file is
// written only when missing or when its MD5 differs from the stored digest.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bin_reader/bin_reader.h"

namespace quillbox {

enum class EntryAction { skip, write };

// What to do with one entry's target, and the lines for standard output that go with it.
struct EntryPlan {
    EntryAction action = EntryAction::write;
    std::vector<std::string> lines;
};

// The current-file test of one entry: `disk_digest` is md5_hex of the target's
// bytes, or nothing when the target does not exist. A missing target is written
// without a line; a current one is skipped ("skip <name>"); a stale one is
// written after "writing <target>" and "<stored digest> -> <disk digest>".
EntryPlan plan_entry(const BinEntry& entry, std::u16string_view target, const std::optional<std::string>& disk_digest);

// What the entries of one run share: the block a present file is read into to
// be hashed, the decoded blocks each entry hands back for the next, and the
// last folder known to exist (under Wine every lookup of a path walks its
// folders, so a flat payload asks once, not once per file).
struct UnpackRun {
    std::span<uint8_t> digest_block;
    SpareBlocks spare;
    std::u16string known_folder;
};

// Makes one entry's file current; ignores failures to create folders, open for
// writing or write; a present file that cannot be read is a fatal stop.
void unpack_entry(std::u16string_view app_dir, const BinEntry& entry, UnpackRun& run);

// The launch path (app_dir joined with exe), or nothing after reporting that the
// local application-data folder is missing. Install mode empties app_dir first.
std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode);

}  // namespace quillbox
