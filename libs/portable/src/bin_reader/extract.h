// Bringing the per-user folder up to date with the payload, the decisions that
// need no platform: each entry's file is written only when missing or when its
// MD5 differs from the stored digest. The Win32 run is in extract_win32.h.
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

// Whether an item listed in a folder the run writes into is a leftover of a
// start killed while writing: a name of the temporary form (temporary_name.h)
// that is no entry's file name. The packer refuses entries of that form, but a
// payload embedded unchecked may hold one, and an entry is never swept.
bool is_leftover(std::u16string_view listed, std::span<const BinEntry> entries);

}  // namespace quillbox
