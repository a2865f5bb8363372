// A payload as `list`, `verify`, `unpack` and `build` load it: from a payload
// file or from a built launcher's payload section, read as the launcher reads
// it, and its entries checked against their digests.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bin_reader/bin_reader.h"
#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// A file's bytes, the payload among them and the launcher's reading of it;
// `payload` and the entries point into `bytes`.
struct LoadedPayload {
    std::vector<uint8_t> bytes;
    Bytes payload;
    BinReader reader;
};

// Reads a payload file, or a built launcher through its payload section,
// without reading the payload itself.
std::optional<Error> read_payload_bytes(const std::filesystem::path& path, LoadedPayload& out);

// Reads the file and its payload as the launcher does.
std::optional<Error> load_payload(const std::filesystem::path& path, LoadedPayload& out);

std::vector<std::string_view> names_of(const BinReader& reader);

// "entry \"NAME\"", the context of an entry's failure.
std::string entry_context(const BinEntry& entry);

// Whether the entry decoded into `plain` and its digest matches.
std::optional<Error> check_entry_content(const BinEntry& entry, const Outcome<ChunkedBytes>& plain);

// Whether every entry decodes and matches its digest; the first that does not, with its name.
std::optional<Error> check_entries_content(const BinReader& reader);

}  // namespace quillbox::pack
