// The .ico directory's checks as a whole (ico_directory.h).
#include "ico_directory.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bin_reader/pe_section.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace {

constexpr size_t HEADER = 6;
constexpr size_t ENTRY = 16;

struct ImageRange {
    uint64_t offset = 0;
    uint64_t size = 0;
    size_t number = 0;  // 1-based, as messages count
};

}  // namespace

std::optional<std::string> ico_directory_problem(Bytes file) {
    if (file.size() < HEADER) return std::nullopt;
    const size_t count = read_u16le(file, 4);
    if (count > ICO_IMAGE_LIMIT) {
        return "the .ico directory lists " + std::to_string(count) + " images, more than the " +
               std::to_string(ICO_IMAGE_LIMIT) + " an icon may have";
    }
    const size_t directory_end = HEADER + ENTRY * count;
    if (!pe::inside(0, directory_end, file.size())) return std::nullopt;
    std::vector<ImageRange> ranges;
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = HEADER + ENTRY * i;
        const ImageRange range{read_u32le(file, entry + 12), read_u32le(file, entry + 8), i + 1};
        if (range.size == 0 || range.offset < directory_end || !pe::inside(range.offset, range.size, file.size()))
            continue;
        total += range.size;
        ranges.push_back(range);
    }
    if (total > file.size()) {
        return "the .ico directory's images take " + std::to_string(total) + " bytes in all, more than the file's " +
               std::to_string(file.size());
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const ImageRange& a, const ImageRange& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < ranges.size(); ++i) {
        const ImageRange& before = ranges[i - 1];
        const ImageRange& after = ranges[i];
        if (after.offset < before.offset + before.size) {
            const auto [first, second] = std::minmax(before.number, after.number);
            return "images " + std::to_string(first) + " and " + std::to_string(second) + " of " +
                   std::to_string(count) + " share bytes of the file from offset " + std::to_string(after.offset);
        }
    }
    return std::nullopt;
}

}  // namespace quillbox::pack
