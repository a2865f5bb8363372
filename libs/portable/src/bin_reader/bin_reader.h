// The embedded payload: its layout, the reader that validates it in one forward
// pass, and the decompression of one entry.
//
//   "quillbox"  entry*  "quillbox"  launch path (to the end)
//   entry = N:u32be  name[N]  M:u32be  data[M]  md5_hex[32]
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "main/error.h"
#include "main/text.h"

namespace quillbox {

inline constexpr std::string_view BIN_MAGIC = "quillbox";
inline constexpr size_t DIGEST_SIZE = 32;

// Bytes handed out by malloc/realloc, so that a growing buffer can be extended
// in place instead of being copied at every step.
struct ByteBuffer {
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> bytes;
    size_t size = 0;
    size_t capacity = 0;

    Bytes view() const { return Bytes(bytes.get(), size); }
};

// Sets the capacity to `wanted` bytes, keeping the content; out of memory is a fatal stop.
void grow_buffer(ByteBuffer& buffer, size_t wanted);

struct BinEntry {
    std::string name;  // decoded with replacement
    Bytes data;        // the compressed stream, inside the payload
    Bytes md5;         // 32 digest characters, inside the payload, not decoded

    // The whole uncompressed content; a stream that does not decode is a fatal stop.
    ByteBuffer decompress() const;
};

struct BinReader {
    std::vector<BinEntry> files;  // payload order
    std::string exe;              // launch path, decoded with replacement

    // Validates `payload`, which must outlive the reader; a damaged payload is a fatal stop.
    static BinReader read(Bytes payload);
};

// The reader's checks with the failure as a value (for tools, tests and fuzzing).
Outcome<BinReader> parse_payload(Bytes payload);

// The decoder with the failure as a value. The output capacity never exceeds
// twice the content size once the content passes the first allocation.
Outcome<ByteBuffer> decompress_stream(Bytes data);

}  // namespace quillbox
