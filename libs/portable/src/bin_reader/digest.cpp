// MD5 digests as hexadecimal text, of bytes or of what a reader yields.
#include "bin_reader/digest.h"

// The low-level MD5 entry points keep OpenSSL's provider machinery out of the
// launcher; they are marked deprecated in OpenSSL 3 but stay supported.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

namespace quillbox {
namespace {

std::string final_hex(MD5_CTX& context) {
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5_Final(digest, &context);
    return hex_text(Bytes(digest, MD5_DIGEST_LENGTH));
}

}  // namespace

std::string hex_text(Bytes bytes) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text(2 * bytes.size(), '0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        text[2 * i] = HEX[bytes[i] >> 4];
        text[2 * i + 1] = HEX[bytes[i] & 0x0F];
    }
    return text;
}

std::string md5_hex(Bytes bytes) { return md5_hex(std::span<const Bytes>(&bytes, 1)); }

std::string md5_hex(std::span<const Bytes> pieces) {
    MD5_CTX context;
    MD5_Init(&context);
    for (Bytes piece : pieces) MD5_Update(&context, piece.data(), piece.size());
    return final_hex(context);
}

Outcome<std::string> md5_hex_of_blocks(const ReadBlock& read_block, std::span<uint8_t> block) {
    MD5_CTX context;
    MD5_Init(&context);
    for (;;) {
        Outcome<size_t> got = read_block(block);
        if (!got.ok()) return failed<std::string>(std::move(*got.error));
        if (got.value == 0) break;
        MD5_Update(&context, block.data(), got.value);
    }
    return succeeded(final_hex(context));
}

std::string digest_text(Bytes md5_field) { return utf8_lossy(md5_field); }

bool digest_matches(Bytes md5_field, const std::string& file_digest) { return digest_text(md5_field) == file_digest; }

}  // namespace quillbox
