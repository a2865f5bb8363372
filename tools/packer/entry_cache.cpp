// The cache of compressed entries: keys, records checked on reading, and trimming.
#include "entry_cache.h"

// The low-level SHA-256 entry points, like MD5's in digest.cpp: the MinGW
// libcrypto carries these and nothing of the provider machinery.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <brotli/encode.h>
#include <openssl/sha.h>

#include <algorithm>
#include <chrono>

#include "brotli_stream.h"

#include "bin_reader/digest.h"
#include "bin_reader/temporary_name.h"
#include "base/bytes.h"
#include "base/text.h"

namespace quillbox::pack {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view RECORD_MAGIC{"qbpack-cache-1\n\0", 16};
constexpr std::string_view KEY_TAG = "quillbox-pack entry stream 1";
constexpr size_t HEADER_SIZE = RECORD_MAGIC.size() + 32 + 8 + 32;
constexpr size_t SAMPLE_SIZE = 8192;
constexpr int64_t STALE_TEMPORARY_NS = int64_t{3600} * 1000000000;

Bytes view_of_digest(const Digest256& digest) { return Bytes(digest.data(), digest.size()); }

std::vector<uint8_t> settings_bytes(int quality, int window, uint64_t size) {
    std::vector<uint8_t> out;
    put_u64le(out, BrotliEncoderVersion());
    put_u64le(out, static_cast<uint64_t>(quality));
    put_u64le(out, static_cast<uint64_t>(window));
    put_u64le(out, size);
    return out;
}

// Text and machine code alike, so that the sample takes the encoder's
// literal and distance models through more than one path.
std::vector<uint8_t> fingerprint_sample() {
    std::vector<uint8_t> sample(SAMPLE_SIZE);
    uint32_t state = 2463534242u;
    for (size_t i = 0; i < sample.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        sample[i] = i % 1024 < 512 ? static_cast<uint8_t>("the quick brown fox "[i % 20]) : uint8_t(state % 7 * 37);
    }
    return sample;
}

bool is_record_name(std::string_view name) {
    return name.size() == 64 + std::string_view(RECORD_SUFFIX).size() && name.ends_with(RECORD_SUFFIX);
}

// A record in flight (or left by a killed packer): the atomic writes' own form.
bool is_record_in_flight(const std::string& name) { return is_temporary_name(utf8_to_utf16(utf8_lossy(name))); }

Digest256 sha256(std::span<const Bytes> pieces) {
    SHA256_CTX context;
    SHA256_Init(&context);
    for (Bytes piece : pieces) SHA256_Update(&context, piece.data(), piece.size());
    Digest256 digest{};
    SHA256_Final(digest.data(), &context);
    return digest;
}

// Everything of the record before the stream.
std::vector<uint8_t> record_header(const Digest256& key, Bytes stream) {
    std::vector<uint8_t> header;
    header.reserve(HEADER_SIZE);
    for (char c : RECORD_MAGIC) header.push_back(static_cast<uint8_t>(c));
    header.insert(header.end(), key.begin(), key.end());
    put_u64le(header, stream.size());
    const Digest256 digest = sha256(std::span<const Bytes>(&stream, 1));
    header.insert(header.end(), digest.begin(), digest.end());
    return header;
}

// The stream a record holds, when it is whole and made for `key`.
std::optional<Bytes> record_stream(Bytes record, const Digest256& key) {
    if (record.size() < HEADER_SIZE) return std::nullopt;
    const Bytes stream = record.subspan(HEADER_SIZE);
    if (read_u64le(record, RECORD_MAGIC.size() + 32) != stream.size()) return std::nullopt;
    const std::vector<uint8_t> expected = record_header(key, stream);
    if (!std::equal(expected.begin(), expected.end(), record.begin())) return std::nullopt;
    return stream;
}

}  // namespace

Digest256 encoder_fingerprint(int quality, int window) {
    const std::vector<uint8_t> sample = fingerprint_sample();
    const Outcome<std::vector<uint8_t>> stream = compress_content(Bytes(sample), quality, window);
    const std::vector<uint8_t> settings = settings_bytes(quality, window, sample.size());
    // An encoder that fails on the sample gets a fingerprint of its own.
    const Bytes made = stream.ok() ? Bytes(stream.value) : Bytes();
    const Bytes pieces[] = {Bytes(settings), made};
    return sha256(pieces);
}

Digest256 cache_key(Bytes content, int quality, int window, const Digest256& encoder) {
    const std::vector<uint8_t> settings = settings_bytes(quality, window, content.size());
    const Bytes pieces[] = {view_of(KEY_TAG), view_of_digest(encoder), Bytes(settings), content};
    return sha256(pieces);
}

std::string record_name(const Digest256& key) { return hex_text(view_of_digest(key)) + RECORD_SUFFIX; }

std::optional<std::vector<uint8_t>> cached_stream(const fs::path& folder, const Digest256& key) {
    const fs::path path = folder / path_from_text(record_name(key));
    const Outcome<std::vector<uint8_t>> record = read_whole_file(path);
    if (!record.ok()) return std::nullopt;
    const std::optional<Bytes> stream = record_stream(Bytes(record.value), key);
    if (!stream) return std::nullopt;
    touch_file(path);  // a read-only shared cache still serves
    return std::vector<uint8_t>(stream->begin(), stream->end());
}

std::optional<Error> store_stream(const fs::path& folder, const Digest256& key, Bytes stream) {
    const std::vector<uint8_t> header = record_header(key, stream);
    // Not flushed: a record lost in a crash fails its check and is written again.
    return write_file_atomically(
        folder / path_from_text(record_name(key)),
        [&](const ByteSink& sink) -> std::optional<Error> {
            if (std::optional<Error> error = sink(Bytes(header))) return error;
            return sink(stream);
        },
        false);
}

std::vector<std::string> files_to_evict(std::vector<ListedFile> files, uint64_t limit, int64_t now) {
    std::vector<std::string> evicted;
    std::vector<ListedFile> records;
    uint64_t total = 0;
    for (ListedFile& file : files) {
        const bool in_flight = is_record_in_flight(file.name);
        if (in_flight && now - file.modified > STALE_TEMPORARY_NS) {
            evicted.push_back(std::move(file.name));
        } else if (in_flight || is_record_name(file.name)) {
            total += file.size;
            if (is_record_name(file.name)) records.push_back(std::move(file));
        }
    }
    std::sort(records.begin(), records.end(), [](const ListedFile& a, const ListedFile& b) {
        return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
    });
    for (ListedFile& record : records) {
        if (total <= limit) break;
        total -= record.size;
        evicted.push_back(std::move(record.name));
    }
    return evicted;
}

void trim_cache(const fs::path& folder, uint64_t limit) {
    Outcome<std::vector<ListedFile>> files = list_files(folder);
    if (!files.ok()) return;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    for (const std::string& name : files_to_evict(std::move(files.value), limit, now)) {
        remove_file(folder / path_from_text(name));
    }
}

}  // namespace quillbox::pack
