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

// Whether an item listed in a folder the run writes into is a leftover of a
// start killed while writing: a name of the temporary form (temporary_name.h)
// that is no entry's file name. The packer refuses entries of that form, but a
// payload embedded unchecked may hold one, and an entry is never swept.
bool is_leftover(std::u16string_view listed, std::span<const BinEntry> entries);

// Whether a move over a target that failed with this Win32 error may succeed
// on a later attempt: the target is held open (another launcher hashing it, a
// scanner), which Windows reports as a sharing violation or, for the replaced
// file of a rename, as access denied. A target that stays in use (the running
// application's exe) is given up after the attempts the removal makes.
bool replacing_worth_retrying(uint32_t win32_error);

// What the entries of one run share: the block a present file is read into to
// be hashed, the decoded blocks each entry hands back for the next, the last
// folder known to exist (under Wine every lookup of a path walks its folders,
// so a flat payload asks once, not once per file), the folders already swept
// of leftovers, and the counter that makes each temporary name of the run new.
struct UnpackRun {
    std::span<uint8_t> digest_block;
    SpareBlocks spare;
    std::u16string known_folder;
    std::span<const BinEntry> entries;
    std::vector<std::u16string> swept_folders;
    uint32_t next_temporary = 0;
};

// Makes one entry's file current; ignores failures to create folders, write or
// move the new file over the target (which then stays as it was, and no
// temporary file is left); a present file that cannot be read is a fatal stop.
void unpack_entry(std::u16string_view app_dir, const BinEntry& entry, UnpackRun& run);

// The launch path (app_dir joined with exe), or nothing after reporting that the
// local application-data folder is missing. Install mode empties app_dir first.
std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode);

}  // namespace quillbox
