// The packer's cache of compressed entries: one record per brotli stream in a
// folder, named by a SHA-256 key of everything that decides the stream's bytes
// (the content, the quality, the window and the encoder itself). Each entry is
// compressed alone, so an unchanged file under unchanged settings gives the
// same stream every time and can be taken from the cache without changing the
// output.
//
//   record = "qbpack-cache-1\n\0"  key[32]  stream length:u64le  sha256(stream)[32]  stream
//
// Records are written under a temporary name and renamed into place, and each
// is checked whole before use, so packers may share a folder and a damaged or
// truncated record is only a miss. Least recently used records go first when
// the folder outgrows its bound.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_system.h"

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// Under the platform's cache folder; not "quillbox", which the build scripts use.
inline constexpr char CACHE_FOLDER_NAME[] = "quillbox-pack";
inline constexpr char RECORD_SUFFIX[] = ".qbc";

using Digest256 = std::array<uint8_t, 32>;

// The encoder as it behaves at this quality and window: brotli's version and
// the stream it makes of a fixed sample, so that another build of the same
// version that compresses differently never shares records.
Digest256 encoder_fingerprint(int quality, int window);

// The key of `content`'s stream at this quality and window.
Digest256 cache_key(Bytes content, int quality, int window, const Digest256& encoder);

// The record's file name: the key in hex and RECORD_SUFFIX.
std::string record_name(const Digest256& key);

// The stream cached under `key` in `folder`, its record marked as just used;
// nothing when there is none or it does not pass the check.
std::optional<std::vector<uint8_t>> cached_stream(const std::filesystem::path& folder, const Digest256& key);

// Stores `stream` under `key`, through a temporary file renamed into place.
std::optional<Error> store_stream(const std::filesystem::path& folder, const Digest256& key, Bytes stream);

// The files of a cache folder to delete so that it holds at most `limit`
// bytes: records, oldest use first, and temporary files left for an hour
// (a packer that died mid-write). Other files are not the cache's.
std::vector<std::string> files_to_evict(std::vector<ListedFile> files, uint64_t limit, int64_t now);

// Deletes what files_to_evict names; a file another packer removed or holds
// is left to the next run.
void trim_cache(const std::filesystem::path& folder, uint64_t limit);

}  // namespace quillbox::pack
