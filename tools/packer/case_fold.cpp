// Windows' upper-case table over UTF-16 code units, for comparing file names.
#include "case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace quillbox::pack {
namespace {

struct FoldRun {
    char16_t first;
    char16_t last;
    uint16_t stride;
    int32_t delta;
};

constexpr FoldRun FOLD_RUNS[] = {
#include "case_fold_table.inc"
};

}  // namespace

char16_t fold_case(char16_t unit) {
    const FoldRun* run = std::upper_bound(std::begin(FOLD_RUNS), std::end(FOLD_RUNS), unit,
                                          [](char16_t u, const FoldRun& r) { return u < r.first; });
    if (run == std::begin(FOLD_RUNS)) return unit;
    --run;
    if (unit > run->last || (unit - run->first) % run->stride != 0) return unit;
    return static_cast<char16_t>(unit + run->delta);
}

}  // namespace quillbox::pack
