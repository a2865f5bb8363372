// MD5 digest text, the hexadecimal form digests take, and the test that tells
// a current file from a stale one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "base/error.h"
#include "base/text.h"

namespace quillbox {

// Two lower-case hexadecimal characters per byte, high nibble first: the
// form every digest takes as text.
std::string hex_text(Bytes bytes);

// 32 lower-case hexadecimal characters, high nibble first.
std::string md5_hex(Bytes bytes);

// The digest text of the pieces one after the other, as if joined.
std::string md5_hex(std::span<const Bytes> pieces);

// Fills `into` from the start and returns how many bytes it put there; zero
// means the end. A failure ends the reading.
using ReadBlock = std::function<Outcome<size_t>(std::span<uint8_t> into)>;

// The size of the block a run hashes its files in.
inline constexpr size_t DIGEST_BLOCK_SIZE = size_t{256} << 10;

// The digest text of everything `read_block` yields, read into `block` (not
// empty) piece by piece, so that a file of any size is hashed in little memory.
// A caller hashing many files allocates the block once: a fresh block per file
// costs more than hashing a small file. The first failed read is the result.
Outcome<std::string> md5_hex_of_blocks(const ReadBlock& read_block, std::span<uint8_t> block);

// An entry's stored digest as text: its bytes decoded with replacement.
std::string digest_text(Bytes md5_field);

// Exact, case-sensitive: an upper-case stored digest never matches.
bool digest_matches(Bytes md5_field, const std::string& file_digest);

}  // namespace quillbox
