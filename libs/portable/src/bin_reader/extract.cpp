// The platform-free part of bringing the per-user folder up to date.
#include "bin_reader/extract.h"

#include "bin_reader/digest.h"
#include "bin_reader/path.h"
#include "bin_reader/temporary_name.h"

namespace quillbox {

EntryPlan plan_entry(const BinEntry& entry, std::u16string_view target, const std::optional<std::string>& disk_digest) {
    EntryPlan plan;
    if (!disk_digest) return plan;
    if (digest_matches(entry.md5, *disk_digest)) {
        plan.action = EntryAction::skip;
        plan.lines.push_back("skip " + entry.name);
        return plan;
    }
    plan.lines.push_back("writing " + utf16_to_utf8_lossy(target));
    plan.lines.push_back(digest_text(entry.md5) + " -> " + *disk_digest);
    return plan;
}

bool is_leftover(std::u16string_view listed, std::span<const BinEntry> entries) {
    if (!is_temporary_name(listed)) return false;
    for (const BinEntry& entry : entries) {
        const std::optional<std::u16string> name = file_name(utf8_to_utf16(entry.name));
        if (name && equal_ignoring_ascii_case<char16_t>(*name, listed)) return false;
    }
    return true;
}

}  // namespace quillbox
