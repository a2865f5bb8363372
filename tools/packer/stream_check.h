// The check every entry's stream passes before it goes into a payload: it
// decodes to exactly the file it stands for. A cached record is only as good
// as whoever could write the cache folder, and a stream just made only as good
// as the memory it was made in; the payload's digest is the file's, so a
// stream that decodes to anything else would be written by every start.
#pragma once

#include <optional>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// Nothing when `stream` is one whole brotli stream that decodes to `content`,
// byte for byte and to its size; otherwise what is wrong. Decoded piece by
// piece against the content, so it holds no second copy of a large file.
std::optional<Error> stream_mismatch(Bytes stream, Bytes content);

}  // namespace quillbox::pack
