// The temporary names files are written under, and the test that recognises one.
#include "bin_reader/temporary_name.h"

#include <atomic>

#include "base/text.h"

namespace quillbox {
namespace {

constexpr std::u16string_view PREFIX = u".quillbox-";
constexpr std::u16string_view SUFFIX = u".tmp";
constexpr size_t MAX_DIGITS = 10;  // 4294967295

std::u16string decimal(uint32_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// The length of the run of 1 to MAX_DIGITS decimal digits at the start of `text`, or 0.
size_t digit_run(std::u16string_view text) {
    size_t n = 0;
    while (n < text.size() && text[n] >= u'0' && text[n] <= u'9') ++n;
    return n <= MAX_DIGITS ? n : 0;
}

}  // namespace

std::u16string temporary_name(uint32_t process_id, uint32_t counter) {
    return std::u16string(PREFIX) + decimal(process_id) + u'-' + decimal(counter) + std::u16string(SUFFIX);
}

std::u16string next_temporary_name(uint32_t process_id) {
    // The one counter of the process, as the names must be unique to it.
    static std::atomic<uint32_t> counter{0};
    return temporary_name(process_id, counter.fetch_add(1, std::memory_order_relaxed));
}

bool is_temporary_name(std::u16string_view name) {
    if (name.size() < PREFIX.size() + SUFFIX.size() ||
        !ends_with_ignoring_ascii_case(name.substr(0, PREFIX.size()), PREFIX) ||
        !ends_with_ignoring_ascii_case(name, SUFFIX)) {
        return false;
    }
    std::u16string_view middle = name.substr(PREFIX.size(), name.size() - PREFIX.size() - SUFFIX.size());
    const size_t process = digit_run(middle);
    if (process == 0 || process >= middle.size() || middle[process] != u'-') return false;
    middle.remove_prefix(process + 1);
    return digit_run(middle) == middle.size() && !middle.empty();
}

}  // namespace quillbox
