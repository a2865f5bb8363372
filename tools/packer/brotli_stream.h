// One entry's brotli stream: made whole from its content, or its start read
// back without decoding the rest.
#pragma once

#include <cstdint>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// One brotli stream of `content` at the given quality and window.
Outcome<std::vector<uint8_t>> compress_content(Bytes content, int quality, int window);

// The first `limit` bytes of the content a brotli stream holds (all of it when
// shorter), decoding no further: enough to read a program's headers without
// decoding the whole program.
Outcome<std::vector<uint8_t>> decompress_prefix(Bytes stream, size_t limit);

}  // namespace quillbox::pack
