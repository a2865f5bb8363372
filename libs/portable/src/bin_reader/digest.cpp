#include "bin_reader/digest.h"

// The one-shot MD5 entry point keeps OpenSSL's provider machinery out of the
// launcher; it is marked deprecated in OpenSSL 3 but stays supported.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

namespace quillbox {

std::string md5_hex(Bytes bytes) {
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5(bytes.data(), bytes.size(), digest);
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text(2 * MD5_DIGEST_LENGTH, '0');
    for (size_t i = 0; i < MD5_DIGEST_LENGTH; ++i) {
        text[2 * i] = HEX[digest[i] >> 4];
        text[2 * i + 1] = HEX[digest[i] & 0x0F];
    }
    return text;
}

std::string digest_text(Bytes md5_field) { return utf8_lossy(md5_field); }

bool digest_matches(Bytes md5_field, const std::string& file_digest) {
    return digest_text(md5_field) == file_digest;
}

}  // namespace quillbox
