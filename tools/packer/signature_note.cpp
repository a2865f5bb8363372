// Finding the payload's unsigned Windows programs and reporting them.
#include "signature_note.h"

#include "brotli_stream.h"
#include "command_report.h"
#include "entry_names.h"
#include "file_system.h"
#include "stub_headers.h"

namespace quillbox::pack {
namespace {

// Far past where any program's headers end.
constexpr size_t PROGRAM_HEADERS_LIMIT = 64 * 1024;

// The unsigned programs among compressed entries, from the start of each program alone.
template <class Entries>
std::vector<std::string> unsigned_among(const Entries& entries) {
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        if (!is_program_name(entry.name)) continue;
        const Outcome<std::vector<uint8_t>> start =
            decompress_prefix(Bytes(entry.data.data(), entry.data.size()), PROGRAM_HEADERS_LIMIT);
        if (start.ok() && unsigned_windows_image(Bytes(start.value.data(), start.value.size()))) {
            names.push_back(entry.name);
        }
    }
    return names;
}

}  // namespace

bool is_program_name(std::string_view name) {
    return ends_with_ignoring_ascii_case(name, std::string_view(".exe")) ||
           ends_with_ignoring_ascii_case(name, std::string_view(".dll"));
}

bool unsigned_program(const ChunkedBytes& plain) {
    return !plain.chunks.empty() && unsigned_windows_image(plain.chunks.front().view());
}

std::vector<std::string> unsigned_programs(const std::vector<PackedEntry>& entries) { return unsigned_among(entries); }

std::vector<std::string> unsigned_programs(const std::vector<BinEntry>& entries) { return unsigned_among(entries); }

std::optional<Error> report_unsigned(const std::vector<std::string>& names, const CommandLine& line) {
    if (names.empty()) return std::nullopt;
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + printable(name);
    const std::string text = std::to_string(names.size()) + " Windows program" + (names.size() == 1 ? "" : "s") +
                             " in the payload carr" + (names.size() == 1 ? "ies" : "y") + " no signature: " + list +
                             "; sign them before packing";
    if (line.require_signed) return failure(text);
    if (!line.quiet) write_text(Stream::error, "quillbox-pack: note: " + text + "\n");
    return std::nullopt;
}

}  // namespace quillbox::pack
