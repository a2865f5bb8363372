// The checks of an .ico directory as a whole, before any image is copied: each
// image goes into the launcher whole, so a directory that lists one image's
// bytes many times would multiply them without bound.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "base/text.h"

namespace quillbox::pack {

// The most images an .ico file may list: generous, since real icons hold a
// dozen sizes at most, and small enough that a directory cannot grow a
// launcher by more than the file's own size.
inline constexpr size_t ICO_IMAGE_LIMIT = 256;

// What is wrong with the directory of `file` (a whole .ico file), or nothing:
// more images than ICO_IMAGE_LIMIT, images that take more bytes in all than
// the file holds, or two images that share bytes. Images that lie outside the
// file, and a directory cut short, are left to the reader, which names them.
std::optional<std::string> ico_directory_problem(Bytes file);

}  // namespace quillbox::pack
