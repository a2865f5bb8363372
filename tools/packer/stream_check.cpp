// Decoding a stream against the content it stands for (stream_check.h).
#include "stream_check.h"

#include <brotli/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quillbox::pack {

std::optional<Error> stream_mismatch(Bytes stream, Bytes content) {
    constexpr size_t PIECE = size_t{256} << 10;
    const std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> decoder(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), BrotliDecoderDestroyInstance);
    if (!decoder) return out_of_memory_error("no memory for a brotli decoder");
    std::vector<uint8_t> piece(PIECE);
    size_t in_left = stream.size();
    const uint8_t* in = stream.data();
    size_t done = 0;  // content bytes matched so far
    for (;;) {
        size_t out_left = piece.size();
        uint8_t* next = piece.data();
        const BrotliDecoderResult result =
            BrotliDecoderDecompressStream(decoder.get(), &in_left, &in, &out_left, &next, nullptr);
        const size_t got = piece.size() - out_left;
        if (got > content.size() - done) {
            return invalid_data("the stream decodes to more than the file's " + std::to_string(content.size()) +
                                " bytes");
        }
        if (got != 0 && std::memcmp(piece.data(), content.data() + done, got) != 0) {
            const auto at = std::mismatch(piece.begin(), piece.begin() + got, content.begin() + done).first;
            return invalid_data("the stream decodes to other bytes than the file's from byte " +
                                std::to_string(done + size_t(at - piece.begin())));
        }
        done += got;
        if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) continue;
        if (result != BROTLI_DECODER_RESULT_SUCCESS) return invalid_data("the stream does not decode");
        if (in_left != 0) return invalid_data("the stream has bytes after its end");
        if (done != content.size()) {
            return invalid_data("the stream decodes to " + std::to_string(done) + " bytes, the file has " +
                                std::to_string(content.size()));
        }
        return std::nullopt;
    }
}

}  // namespace quillbox::pack
