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

#include "base/error.h"
#include "base/text.h"

namespace quillbox {

inline constexpr std::string_view BIN_MAGIC = "quillbox";
inline constexpr size_t DIGEST_SIZE = 32;

// Bytes handed out by malloc, released with free.
struct ByteBuffer {
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> bytes;
    size_t size = 0;
    size_t capacity = 0;

    Bytes view() const { return Bytes(bytes.get(), size); }
};

// An empty buffer of `capacity` bytes; out of memory is a fatal stop.
ByteBuffer new_buffer(size_t capacity);

// Decoded content in blocks filled one after the other. A block never grows, so
// no byte is moved once the decoder has written it, and no single allocation
// has to hold a whole large file (a 32-bit process may not find the room).
struct ChunkedBytes {
    std::vector<ByteBuffer> chunks;  // in order; each full but the last
    size_t size = 0;                 // all chunks together

    std::vector<Bytes> views() const;
};

// The largest block of decoded content.
inline constexpr size_t CHUNK_SIZE = size_t{1} << 20;

// Blocks whose content has been written out, kept for the next entry's
// decoding: a fresh block is allocated only when these run out, so a run
// touches no more new memory than its largest entry needs. (A block of 1 MiB
// comes straight from the system each time it is allocated, zero-filled on
// first touch, under Windows and Wine alike.)
struct SpareBlocks {
    std::vector<ByteBuffer> blocks;
    // The largest window earlier decoders freed (about the size of its entry,
    // up to the stream's window size), kept for the next entry's decoder on the
    // same grounds.
    ByteBuffer window;
};

// The brotli decoder's allocation functions, `opaque` being the SpareBlocks
// whose window they keep; out of memory is a fatal stop. Declared here only as
// a seam for the unit test of the window rule: a decode shows which window is
// kept, but not that a table never takes it or that two are never held at once.
void* decoder_alloc(void* opaque, size_t size);
void decoder_free(void* opaque, void* address);

// Hands the blocks of content that is no longer needed back for reuse.
void give_back(ChunkedBytes content, SpareBlocks& spare);

struct BinEntry {
    std::string name;  // decoded with replacement
    Bytes data;        // the compressed stream, inside the payload
    Bytes md5;         // 32 digest characters, inside the payload, not decoded

    // The whole uncompressed content, in `spare` blocks first; a stream that
    // does not decode is a fatal stop.
    ChunkedBytes decompress(SpareBlocks& spare) const;
};

struct BinReader {
    std::vector<BinEntry> files;  // payload order
    std::string exe;              // launch path, decoded with replacement

    // Validates `payload`, which must outlive the reader; a damaged payload is a fatal stop.
    static BinReader read(Bytes payload);
};

// The reader's checks with the failure as a value (for tools, tests and fuzzing).
Outcome<BinReader> parse_payload(Bytes payload);

// The decoder with the failure as a value. It takes `spare` blocks first, in
// any order; fresh blocks start near the stream's size and double up to
// CHUNK_SIZE, so a small file takes few and a large one wastes less than one
// block.
Outcome<ChunkedBytes> decompress_stream(Bytes data, SpareBlocks& spare);

// The same into fresh blocks only, for callers that decode one stream.
Outcome<ChunkedBytes> decompress_stream(Bytes data);

}  // namespace quillbox
