// MD5 digest text and the test that tells a current file from a stale one.
#pragma once

#include <string>

#include "main/text.h"

namespace quillbox {

// 32 lower-case hexadecimal characters, high nibble first.
std::string md5_hex(Bytes bytes);

// An entry's stored digest as text: its bytes decoded with replacement.
std::string digest_text(Bytes md5_field);

// Exact, case-sensitive: an upper-case stored digest never matches.
bool digest_matches(Bytes md5_field, const std::string& file_digest);

}  // namespace quillbox
