// The version block (VS_VERSIONINFO) as the packer writes it for --version,
// --version-string and --version-from, and reads it back for `list`.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// The language block's name: US English (0409) in Unicode (04B0, code page 1200).
inline constexpr char VERSION_LANGUAGE[] = "040904B0";
inline constexpr uint16_t VERSION_LANGUAGE_ID = 0x0409;

// One string table of a version block: its name (language and code page as
// eight hex digits) and its strings, UTF-8 key and value, in the order written.
struct VersionTable {
    std::string language = VERSION_LANGUAGE;
    std::vector<std::pair<std::string, std::string>> strings;
};

// A language and code page of the Translation var.
struct VersionTranslation {
    uint16_t language = VERSION_LANGUAGE_ID;
    uint16_t codepage = 1200;  // UTF-16
    bool operator==(const VersionTranslation&) const = default;
};

// What a version block holds: four 16-bit parts each for the file and the
// product, the flags, and its string tables and translations. By default one
// table 040904B0 and its translation, as `build --version` writes them; one
// copied from another program keeps that program's tables and translations.
struct VersionInfo {
    std::array<uint16_t, 4> file_version{};
    std::array<uint16_t, 4> product_version{};
    std::vector<VersionTable> tables{VersionTable{}};
    std::vector<VersionTranslation> translations{VersionTranslation{}};
    uint32_t flags_mask = 0x3F;
    uint32_t flags = 0;  // no debug, pre-release or patched build
};

inline constexpr size_t VERSION_KEY_LIMIT = 64;      // UTF-16 units
inline constexpr size_t VERSION_VALUE_LIMIT = 1024;  // UTF-16 units

// Whether two version string keys are one: the lookup ignores ASCII case.
bool same_version_key(std::string_view a, std::string_view b);

// Whether a key and value can go into a version block: both given, UTF-8,
// within the limits and free of NUL.
std::optional<Error> check_version_string(std::string_view key, std::string_view value);

// The VS_VERSIONINFO resource; fails when it would pass the 64 KiB a block can hold.
Outcome<std::vector<uint8_t>> version_block(const VersionInfo& info);

// A version block read back, for `list`.
Outcome<VersionInfo> read_version_block(Bytes block);

// "1.2.3.4".
std::string version_text(const std::array<uint16_t, 4>& parts);

}  // namespace quillbox::pack
