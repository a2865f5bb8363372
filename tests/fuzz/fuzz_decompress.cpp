// The entry decoder on arbitrary streams, with a cap on the output so that a
// valid stream of a huge file does not exhaust the fuzzer's memory.
#include <brotli/decode.h>

#include "bin_reader/bin_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Skip streams that declare more than 16 MiB: their decoding is tested elsewhere.
    size_t declared = 0;
    uint8_t probe[1 << 16];
    size_t available_in = size, available_out = sizeof probe;
    const uint8_t* next_in = data;
    uint8_t* next_out = probe;
    BrotliDecoderState* state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    for (int rounds = 0; rounds < 256; ++rounds) {
        BrotliDecoderResult r =
            BrotliDecoderDecompressStream(state, &available_in, &next_in, &available_out, &next_out, &declared);
        if (r != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) break;
        available_out = sizeof probe;
        next_out = probe;
        if (declared > (16u << 20)) break;
    }
    BrotliDecoderDestroyInstance(state);
    if (declared > (16u << 20)) return 0;

    auto out = quillbox::decompress_stream(quillbox::Bytes(data, size));
    if (!out.ok()) return 0;
    // Blocks are filled in order and never past their room, and they add up.
    size_t total = 0;
    for (size_t i = 0; i < out.value.chunks.size(); ++i) {
        const quillbox::ByteBuffer& chunk = out.value.chunks[i];
        if (chunk.size > chunk.capacity || chunk.capacity > quillbox::CHUNK_SIZE) __builtin_trap();
        if (i + 1 < out.value.chunks.size() && chunk.size != chunk.capacity) __builtin_trap();
        total += chunk.size;
    }
    if (total != out.value.size) __builtin_trap();
    return 0;
}
