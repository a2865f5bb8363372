// Checks the packer's case table against the platform's ordinal comparison
// ignoring case, over every UTF-16 code unit: each unit must compare equal to
// its folded form, and units the platform upper-cases must fold alike. Prints
// each disagreement and a closing count; exits 1 on any.
#include <windows.h>

#include <cstdio>

#include "case_fold.h"

namespace {

using UpcaseFn = WCHAR(WINAPI*)(WCHAR);

bool same_ignoring_case(wchar_t a, wchar_t b) { return CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL; }

}  // namespace

int wmain() {
    const auto upcase = reinterpret_cast<UpcaseFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
    if (upcase == nullptr) {
        std::printf("no RtlUpcaseUnicodeChar\n");
        return 2;
    }
    unsigned disagreements = 0;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const auto c = static_cast<wchar_t>(unit);
        const auto ours = static_cast<wchar_t>(quillbox::pack::fold_case(char16_t(unit)));
        const wchar_t platform = upcase(c);
        const char* what = nullptr;
        if (!same_ignoring_case(c, ours)) {
            what = "ours-not-equal";
        } else if (!same_ignoring_case(c, platform)) {
            what = "platform-upcase-not-equal";
        } else if (quillbox::pack::fold_case(char16_t(platform)) != char16_t(ours)) {
            what = "platform-equal-ours-apart";
        }
        if (what == nullptr) continue;
        ++disagreements;
        std::printf("%04X ours %04X platform %04X %s\n", unit, unsigned(ours), unsigned(platform), what);
    }
    std::printf("checked 65536 code units: %u disagreements\n", disagreements);
    return disagreements == 0 ? 0 : 1;
}
