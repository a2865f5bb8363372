// Loading a payload file or a built launcher's payload, and checking its
// entries' content against their digests.
#include "loaded_payload.h"

#include "brotli_stream.h"
#include "command_report.h"
#include "entry_names.h"
#include "file_system.h"
#include "stub_headers.h"

#include "bin_reader/digest.h"
#include "bin_reader/pe_section.h"

namespace quillbox::pack {

namespace fs = std::filesystem;

std::optional<Error> read_payload_bytes(const fs::path& path, LoadedPayload& out) {
    Outcome<std::vector<uint8_t>> bytes = read_whole_file(path);
    if (!bytes.ok()) return bytes.error;
    out.bytes = std::move(bytes.value);
    out.payload = Bytes(out.bytes.data(), out.bytes.size());
    if (!is_windows_program(out.payload)) return std::nullopt;
    Outcome<Bytes> section = find_section(out.payload, ImageLayout::file, PAYLOAD_SECTION);
    if (!section.ok()) return with_context(*section.error, "cannot read the payload of " + quoted(path));
    if (section.value.empty()) return failure(quoted(path) + " carries no payload");
    out.payload = section.value;
    return std::nullopt;
}

std::optional<Error> load_payload(const fs::path& path, LoadedPayload& out) {
    if (std::optional<Error> error = read_payload_bytes(path, out)) return error;
    Outcome<BinReader> parsed = parse_payload(out.payload);
    if (!parsed.ok()) return with_context(*parsed.error, "damaged payload " + quoted(path));
    out.reader = std::move(parsed.value);
    return std::nullopt;
}

std::vector<std::string_view> names_of(const BinReader& reader) {
    std::vector<std::string_view> names;
    for (const BinEntry& entry : reader.files) names.push_back(entry.name);
    return names;
}

std::string entry_context(const BinEntry& entry) { return "entry \"" + printable(entry.name) + "\""; }

std::optional<Error> check_entry_content(const BinEntry& entry, const Outcome<ChunkedBytes>& plain) {
    if (!plain.ok()) return plain.error;
    const std::string actual = md5_hex(plain.value.views());
    if (digest_matches(entry.md5, actual)) return std::nullopt;
    return failure("digest mismatch: stored " + printable(digest_text(entry.md5)) + ", content " + actual);
}

std::optional<Error> check_entries_content(const BinReader& reader) {
    for (const BinEntry& entry : reader.files) {
        if (std::optional<Error> error = check_entry_content(entry, decompress_stream(entry.data))) {
            return with_context(*error, entry_context(entry));
        }
    }
    return std::nullopt;
}

}  // namespace quillbox::pack
