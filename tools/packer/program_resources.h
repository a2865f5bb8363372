// The icon and version block of another Windows program or library, read for
// the launcher to carry, and the version options applied over them. The file
// is someone else's: every offset, count and size is checked against it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ico_directory.h"
#include "icon_file.h"
#include "stub_headers.h"
#include "version_block.h"

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// The program's main icon, the one a file manager shows for it: the first icon
// group in its resource directory's order (named groups first, in the order
// stored, then numbered ones, lowest first), its first language, with every
// image it lists (in the group's language where there is one), each checked as
// an image of an .ico file is. At most ICO_IMAGE_LIMIT images, each its own
// data.
Outcome<std::vector<IconImage>> program_icon(Bytes file);

// The program's version block, the first in the same order, read.
Outcome<VersionInfo> program_version(Bytes file);

// The version block `build` writes: `base` (a program's, or the default with
// one table 040904B0) with --version and --version-string applied. The numbers
// are replaced; each string is set in every table (the default one when the
// block has none), added where missing; and FileVersion and ProductVersion
// follow --version unless given.
VersionInfo with_version_options(VersionInfo base, const std::optional<std::array<uint16_t, 4>>& version,
                                 const std::vector<std::pair<std::string, std::string>>& strings);

}  // namespace quillbox::pack
