// Compressing an entry into one brotli stream, and decoding the start of one.
#include "brotli_stream.h"

#include <brotli/decode.h>
#include <brotli/encode.h>

#include <memory>
#include <string>

namespace quillbox::pack {

Outcome<std::vector<uint8_t>> compress_content(Bytes content, int quality, int window) {
    using Result = std::vector<uint8_t>;
    const size_t bound = BrotliEncoderMaxCompressedSize(content.size());
    if (bound == 0)
        return failed<Result>(invalid_input(std::to_string(content.size()) + " bytes are too many for brotli"));
    Result out(bound);
    size_t size = bound;
    if (!BrotliEncoderCompress(quality, window, BROTLI_MODE_GENERIC, content.size(), content.data(), &size,
                               out.data())) {
        return failed<Result>(plain_error("brotli encoder failed"));
    }
    out.resize(size);
    out.shrink_to_fit();  // every stream is held until the payload is written
    return succeeded(std::move(out));
}

Outcome<std::vector<uint8_t>> decompress_prefix(Bytes stream, size_t limit) {
    using Result = std::vector<uint8_t>;
    const std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> decoder(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), BrotliDecoderDestroyInstance);
    if (!decoder) return failed<Result>(out_of_memory_error("no memory for a brotli decoder"));
    Result out(limit);
    size_t in_left = stream.size();
    const uint8_t* in = stream.data();
    size_t out_left = limit;
    uint8_t* next = out.data();
    BrotliDecoderResult result = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
    while (result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT && out_left != 0) {
        result = BrotliDecoderDecompressStream(decoder.get(), &in_left, &in, &out_left, &next, nullptr);
    }
    if (result == BROTLI_DECODER_RESULT_ERROR || result == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
        return failed<Result>(invalid_data("the stream does not decode"));
    }
    out.resize(limit - out_left);
    return succeeded(std::move(out));
}

}  // namespace quillbox::pack
