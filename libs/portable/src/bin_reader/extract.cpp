// The platform-free part of bringing the per-user folder up to date.
#include "bin_reader/extract.h"

#include "bin_reader/digest.h"

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

}  // namespace quillbox
