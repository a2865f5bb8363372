// Building a payload on the host: which files go in and under what names, their
// compression and the byte layout.
//
//   "quillbox"  entry*  "quillbox"  launch path (to the end)
//   entry = N:u32be  name[N]  M:u32be  data[M]  md5_hex[32]
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

inline constexpr std::string_view DEFAULT_EXE = ".\\quillbox.exe";
inline constexpr int DEFAULT_QUALITY = 11;
inline constexpr int DEFAULT_WINDOW = 22;
inline constexpr uint64_t DEFAULT_CACHE_LIMIT_MIB = 1024;
// Every offset and length in the format is 32-bit.
inline constexpr uint64_t FIELD_LIMIT = 0xFFFFFFFFu;

struct InputFile {
    std::string name;  // entry name, e.g. ".\sub\lib.dll"
    std::filesystem::path source;
    uint64_t size = 0;  // at collection time; for progress only
};

struct CompressOptions {
    int quality = DEFAULT_QUALITY;
    int window = DEFAULT_WINDOW;
    unsigned jobs = 0;                                     // 0: one per core
    std::optional<std::filesystem::path> cache;            // the folder of compressed entries; nothing: none kept
    uint64_t cache_limit = DEFAULT_CACHE_LIMIT_MIB << 20;  // bytes the folder may hold after packing
};

struct PackedEntry {
    std::string name;
    std::vector<uint8_t> data;  // one brotli stream
    std::string md5;            // of the plain content, lower-case hex
    uint64_t plain_size = 0;
    bool from_cache = false;
};

struct PackedEntries {
    std::vector<PackedEntry> entries;
    size_t from_cache = 0;
    // Why compressed entries could not be kept (the folder not made, a record
    // not written): the packing goes on without, and the caller says so once.
    std::optional<Error> cache_problem;
};

struct PackProgress {
    size_t files_done = 0;
    uint64_t bytes_done = 0;  // plain bytes of the files done
    size_t from_cache = 0;    // of the files done
};

// Called from the calling thread, several times a second and once at the end.
using ProgressFn = std::function<void(const PackProgress&)>;

// Every regular file under `folder`, named ".\" + relative path with '\', sorted
// by the names' bytes, each name through the packer's name gate; the links to
// folders that were not entered go to `skipped_links`.
Outcome<std::vector<InputFile>> collect_folder(const std::filesystem::path& folder,
                                               std::vector<std::filesystem::path>* skipped_links = nullptr);

// Each file named ".\" + its base name, in the order given.
Outcome<std::vector<InputFile>> collect_files(const std::vector<std::filesystem::path>& files);

// Reads, compresses and digests every input, in parallel, taking the streams
// the cache holds from it and keeping the others there; the result is in
// input order and depends neither on the number of jobs nor on the cache.
Outcome<PackedEntries> pack_entries(const std::vector<InputFile>& inputs, const CompressOptions& options,
                                    const ProgressFn& progress = {});

struct EntrySize {
    uint64_t name = 0;
    uint64_t data = 0;
};

// The payload's length, or why the format cannot hold it.
Outcome<uint64_t> payload_size(std::span<const EntrySize> entries, uint64_t exe_size);

// The payload, piece by piece, into `sink`; nothing is written when the
// entries do not fit the format.
std::optional<Error> write_payload(const std::vector<PackedEntry>& entries, std::string_view exe, const ByteSink& sink);

}  // namespace quillbox::pack
