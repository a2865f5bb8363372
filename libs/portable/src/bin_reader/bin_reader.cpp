// The payload reader's one forward pass and the decoding of an entry's stream.
#include "bin_reader/bin_reader.h"

#include <brotli/decode.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "base/bytes.h"
#include "base/fatal.h"

namespace quillbox {
namespace {

constexpr uint64_t U32_LIMIT = uint64_t{1} << 32;
constexpr size_t INPUT_CHUNK = 4096;
constexpr size_t MIN_CHUNK = 4096;

Error bounds_error(std::string text) { return plain_error(std::move(text)); }

Error out_of_range(const char* what, uint64_t entry, uint64_t end, uint64_t length) {
    return bounds_error(std::string(what) + " of the entry at offset " + std::to_string(entry) + ": end offset " +
                        std::to_string(end) + " is out of range for the payload's length " + std::to_string(length));
}

Error wrapped(const char* what, uint64_t entry, uint64_t start, uint64_t end) {
    return bounds_error(std::string(what) + " of the entry at offset " + std::to_string(entry) + ": " + what +
                        " start " + std::to_string(start) + " lies after the wrapped " + what + " end " +
                        std::to_string(end % U32_LIMIT));
}

// Every Win32 call stops at a NUL, so a text that holds one would name another
// file (a name ".\quillbox.exe", NUL, ".txt" is the main exe) or cut the
// child's command line short.
std::optional<Error> nul_inside(const char* what, uint64_t where, Bytes payload, uint64_t start, uint64_t size) {
    const Bytes text = payload.subspan(start, size);
    const auto nul = std::find(text.begin(), text.end(), uint8_t{0});
    if (nul == text.end()) return std::nullopt;
    return bounds_error(std::string(what) + " at offset " + std::to_string(where) + ": NUL character at offset " +
                        std::to_string(start + static_cast<uint64_t>(nul - text.begin())));
}

struct DecoderFree {
    void operator()(BrotliDecoderState* s) const { BrotliDecoderDestroyInstance(s); }
};
using Decoder = std::unique_ptr<BrotliDecoderState, DecoderFree>;

// A decoder with the standard dictionary, allocating through the functions
// above; `spare` must outlive it.
Decoder new_decoder(SpareBlocks& spare) {
    Decoder decoder(BrotliDecoderCreateInstance(decoder_alloc, decoder_free, &spare));
    if (!decoder) fatal_stop("the brotli decoder could not be created");  // its allocator stops first
    return decoder;
}

// The next block to decode into: a spare one while any is left, else a fresh
// one of `fresh_size` bytes, which then doubles up to CHUNK_SIZE.
ByteBuffer next_block(SpareBlocks& spare, size_t& fresh_size) {
    if (!spare.blocks.empty()) {
        ByteBuffer block = std::move(spare.blocks.back());
        spare.blocks.pop_back();
        return block;
    }
    ByteBuffer block = new_buffer(fresh_size);
    fresh_size = std::min(2 * fresh_size, CHUNK_SIZE);
    return block;
}

constexpr size_t HEADER = alignof(std::max_align_t);
constexpr size_t KEEP_FROM = size_t{64} << 10;

// The decoder asks for its window as a power of two and a few bytes of slack
// (42 in this brotli); its code tables and context maps come in multiples of
// four bytes, and must not take the window: they are asked for first.
bool window_shaped(size_t size) {
    if (size < KEEP_FROM) return false;
    const size_t slack = size - (size_t{1} << (std::bit_width(size) - 1));
    return slack < 64 && slack % 4 != 0;
}

}  // namespace

// The decoder allocates through these, with `SpareBlocks` as its opaque
// pointer. Each allocation carries its size in front, so that the window a
// finished decoder frees can be kept for the next entry's window. It serves any
// window it holds; a larger one releases it first, so that two are never held
// where one is in use. Out of memory ends in the launcher's own stop, with the
// size the decoder asked for.
void* decoder_alloc(void* opaque, size_t size) {
    if (size > SIZE_MAX - HEADER) fatal_out_of_memory(size);
    const size_t whole = size + HEADER;
    ByteBuffer& kept = static_cast<SpareBlocks*>(opaque)->window;
    ByteBuffer block;
    if (window_shaped(size)) {
        block = std::exchange(kept, ByteBuffer{});
        if (block.capacity < whole) block = ByteBuffer{};  // released before the larger one is taken
    }
    if (!block.bytes) block = new_buffer(whole);
    std::memcpy(block.bytes.get(), &block.capacity, sizeof block.capacity);
    return block.bytes.release() + HEADER;
}

void decoder_free(void* opaque, void* address) {
    if (address == nullptr) return;
    ByteBuffer block;
    block.bytes.reset(static_cast<uint8_t*>(address) - HEADER);
    std::memcpy(&block.capacity, block.bytes.get(), sizeof block.capacity);
    ByteBuffer& kept = static_cast<SpareBlocks*>(opaque)->window;
    if (window_shaped(block.capacity - HEADER) && block.capacity > kept.capacity) kept = std::move(block);
}

ByteBuffer new_buffer(size_t capacity) {
    ByteBuffer buffer;
    buffer.bytes.reset(static_cast<uint8_t*>(std::malloc(capacity)));
    if (buffer.bytes == nullptr) fatal_out_of_memory(capacity);
    buffer.capacity = capacity;
    return buffer;
}

std::vector<Bytes> ChunkedBytes::views() const {
    std::vector<Bytes> out;
    out.reserve(chunks.size());
    for (const ByteBuffer& chunk : chunks) out.push_back(chunk.view());
    return out;
}

Outcome<BinReader> parse_payload(Bytes payload) {
    // Offsets are 32-bit in the format; sums are formed in 64 bits so that a
    // wrap is detected rather than taken as a small offset.
    const uint64_t length = payload.size();
    if (length >= U32_LIMIT)
        return failed<BinReader>(
            bounds_error("payload of " + std::to_string(length) + " bytes exceeds 32-bit offsets"));
    if (length < BIN_MAGIC.size()) {
        return failed<BinReader>(bounds_error("opening magic: end offset 8 is out of range for the payload's length " +
                                              std::to_string(length)));
    }
    if (text_of(payload.first(8)) != BIN_MAGIC) return failed<BinReader>(bounds_error("bin file is not valid!"));

    BinReader reader;
    uint64_t p = 8;
    for (;;) {
        if (p + 8 > length) return failed<BinReader>(out_of_range("window", p, p + 8, length));
        if (text_of(payload.subspan(p, 8)) == BIN_MAGIC) break;

        const uint64_t n = read_u32be(payload, p);
        const uint64_t name_end = p + 4 + n;
        if (name_end >= U32_LIMIT) return failed<BinReader>(wrapped("name", p, p + 4, name_end));
        if (name_end > length) return failed<BinReader>(out_of_range("name", p, name_end, length));

        BinEntry entry;
        entry.name = utf8_lossy(payload.subspan(p + 4, n));

        if (name_end + 4 > length) {
            return failed<BinReader>(bounds_error("data length of the entry at offset " + std::to_string(p) +
                                                  ": index " + std::to_string(length) +
                                                  " is out of bounds for length " + std::to_string(length)));
        }
        const uint64_t m = read_u32be(payload, name_end);
        const uint64_t data_start = name_end + 4;
        const uint64_t data_end = data_start + m;
        if (data_start >= U32_LIMIT || data_end >= U32_LIMIT) {
            return failed<BinReader>(wrapped("data", p, data_start, data_end));
        }
        if (data_end > length) return failed<BinReader>(out_of_range("data", p, data_end, length));
        if (data_end + DIGEST_SIZE > length) {
            return failed<BinReader>(out_of_range("digest", p, data_end + DIGEST_SIZE, length));
        }
        // Checked once the entry's bounds hold, so that every bound report stays as it was.
        if (auto error = nul_inside("name of the entry", p, payload, p + 4, n)) return failed<BinReader>(*error);
        entry.data = payload.subspan(data_start, m);
        entry.md5 = payload.subspan(data_end, DIGEST_SIZE);
        reader.files.push_back(std::move(entry));
        p = data_end + DIGEST_SIZE;
    }
    if (auto error = nul_inside("launch path", p + 8, payload, p + 8, length - p - 8)) return failed<BinReader>(*error);
    reader.exe = utf8_lossy(payload.subspan(p + 8));
    return succeeded(std::move(reader));
}

BinReader BinReader::read(Bytes payload) {
    Outcome<BinReader> parsed = parse_payload(payload);
    if (!parsed.ok()) fatal_stop(parsed.error->text());
    return std::move(parsed.value);
}

void give_back(ChunkedBytes content, SpareBlocks& spare) {
    for (ByteBuffer& chunk : content.chunks) {
        chunk.size = 0;
        spare.blocks.push_back(std::move(chunk));
    }
}

Outcome<ChunkedBytes> decompress_stream(Bytes data) {
    SpareBlocks none;
    return decompress_stream(data, none);
}

Outcome<ChunkedBytes> decompress_stream(Bytes data, SpareBlocks& spare) {
    Decoder decoder = new_decoder(spare);
    ChunkedBytes content;
    // Executables shrink to a third or so, so twice the stream is a fair first guess.
    size_t fresh_size = 2 * std::clamp<size_t>(data.size(), MIN_CHUNK / 2, CHUNK_SIZE / 2);
    // No block until the decoder has output for it, so empty content allocates none.
    ByteBuffer* chunk = nullptr;

    size_t consumed = 0;
    for (;;) {
        size_t chunk_in = std::min(INPUT_CHUNK, data.size() - consumed);
        const uint8_t* next_in = data.data() + consumed;
        size_t avail_in = chunk_in;
        uint8_t* next_out = chunk ? chunk->bytes.get() + chunk->size : nullptr;
        size_t avail_out = chunk ? chunk->capacity - chunk->size : 0;
        const size_t room = avail_out;
        BrotliDecoderResult result =
            BrotliDecoderDecompressStream(decoder.get(), &avail_in, &next_in, &avail_out, &next_out, nullptr);
        consumed += chunk_in - avail_in;
        if (chunk) chunk->size += room - avail_out;
        content.size += room - avail_out;

        switch (result) {
            case BROTLI_DECODER_RESULT_SUCCESS: return succeeded(std::move(content));
            case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
                content.chunks.push_back(next_block(spare, fresh_size));
                chunk = &content.chunks.back();
                break;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
                if (consumed == data.size()) {
                    return failed<ChunkedBytes>(invalid_data("brotli stream ends before its last block"));
                }
                break;
            case BROTLI_DECODER_RESULT_ERROR:
            default: {
                BrotliDecoderErrorCode code = BrotliDecoderGetErrorCode(decoder.get());
                return failed<ChunkedBytes>(invalid_data(std::string("brotli decoder error ") + std::to_string(code) +
                                                         " (" + BrotliDecoderErrorString(code) + ")"));
            }
        }
    }
}

ChunkedBytes BinEntry::decompress(SpareBlocks& spare) const {
    Outcome<ChunkedBytes> decoded = decompress_stream(data, spare);
    if (!decoded.ok()) fatal_stop("entry \"" + name + "\": " + describe(*decoded.error));
    return std::move(decoded.value);
}

}  // namespace quillbox
