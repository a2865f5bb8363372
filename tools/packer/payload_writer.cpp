// Collecting the input files, compressing them in parallel, writing the payload.
#include "payload_writer.h"

#include <brotli/encode.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "brotli_stream.h"
#include "entry_cache.h"
#include "entry_names.h"
#include "stream_check.h"

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace fs = std::filesystem;
namespace {

constexpr auto PROGRESS_TICK = std::chrono::milliseconds(200);

// A '\' inside a Linux file name would become a folder separator on Windows,
// so such names cannot go in as they are; every other rule is the gate's.
std::optional<Error> check_name_part(const std::string& part, const fs::path& source) {
    if (part.find('\\') != std::string::npos) {
        return invalid_input("file name " + quoted(source) +
                             " holds a '\\', which Windows takes as a folder separator");
    }
    return std::nullopt;
}

Outcome<std::string> entry_name(const std::vector<std::string>& parts, const fs::path& source) {
    std::string name = ".";
    for (const std::string& part : parts) {
        if (std::optional<Error> error = check_name_part(part, source)) return failed<std::string>(*error);
        name += '\\';
        name += part;
    }
    return succeeded(std::move(name));
}

// The entry names through the packer's one gate, each refusal with its source file.
std::optional<Error> check_input_names(const std::vector<InputFile>& inputs) {
    std::vector<std::string_view> names;
    names.reserve(inputs.size());
    for (const InputFile& input : inputs) names.push_back(input.name);
    const std::vector<NameProblem> problems = name_problems(names);
    if (problems.empty()) return std::nullopt;
    return invalid_input(quoted(inputs[problems.front().entry].source) + ": " + problems.front().text);
}

// The cache as one packing uses it: the folder (nothing when it cannot be
// made) and the encoder's fingerprint for the options' quality and window.
struct CacheRun {
    std::optional<fs::path> folder;
    Digest256 encoder{};
};

// One input's slot: its entry, or why it failed, and why its stream could not
// be kept in the cache.
struct PackSlot {
    Outcome<PackedEntry> entry;
    std::optional<Error> cache_problem;
};

PackSlot pack_one(const InputFile& input, const CompressOptions& options, const CacheRun& cache) {
    Outcome<std::vector<uint8_t>> content = read_whole_file(input.source);
    if (!content.ok()) return PackSlot{failed<PackedEntry>(*content.error), std::nullopt};
    const Bytes plain(content.value);
    PackSlot slot{succeeded(PackedEntry{input.name, {}, md5_hex(plain), content.value.size()}), std::nullopt};
    std::optional<Digest256> key;
    if (cache.folder) {
        key = cache_key(plain, options.quality, options.window, cache.encoder);
        // A record that does not decode to the file, whoever wrote it, is a
        // miss: compressed again below and written over.
        std::optional<std::vector<uint8_t>> stream = cached_stream(*cache.folder, *key);
        if (stream && !stream_mismatch(Bytes(*stream), plain)) {
            slot.entry.value.data = std::move(*stream);
            slot.entry.value.from_cache = true;
            return slot;
        }
    }
    Outcome<std::vector<uint8_t>> data = compress_content(plain, options.quality, options.window);
    if (!data.ok()) {
        slot.entry = failed<PackedEntry>(with_context(*data.error, "cannot compress " + quoted(input.source)));
        return slot;
    }
    if (std::optional<Error> mismatch = stream_mismatch(Bytes(data.value), plain)) {
        slot.entry = failed<PackedEntry>(
            with_context(*mismatch, "the compressed " + quoted(input.source) + " does not decode to the file"));
        return slot;
    }
    if (key) slot.cache_problem = store_stream(*cache.folder, *key, Bytes(data.value));
    slot.entry.value.data = std::move(data.value);
    return slot;
}

PackSlot pack_guarded(const InputFile& input, const CompressOptions& options, const CacheRun& cache) {
    try {
        return pack_one(input, options, cache);
    } catch (const std::bad_alloc&) {
        return PackSlot{failed<PackedEntry>(out_of_memory_error("cannot pack " + quoted(input.source))), std::nullopt};
    }
}

// `work` on up to `jobs` threads (on this one when none can be started), and
// `report` on this thread several times a second until all have finished.
void run_in_parallel(unsigned jobs, const std::function<void()>& work, const std::function<void()>& report) {
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;
    std::vector<std::jthread> workers;
    workers.reserve(jobs);
    for (unsigned j = 0; j < jobs; ++j) {
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        try {
            workers.emplace_back([&] {
                work();
                std::lock_guard lock(mutex);
                --running;
                finished.notify_one();
            });
        } catch (const std::system_error&) {
            // Fewer threads than asked for still do all the work.
            std::lock_guard lock(mutex);
            --running;
            break;
        }
    }
    if (workers.empty()) work();
    for (bool done = false; !done;) {
        {
            std::unique_lock lock(mutex);
            done = finished.wait_for(lock, PROGRESS_TICK, [&] { return running == 0; });
        }
        report();
    }
}

// The entries in input order, or the first failure. Inputs are handed out in
// order, so any failed slot comes before the ones never reached after the stop.
Outcome<PackedEntries> in_input_order(std::vector<PackSlot>& slots) {
    for (PackSlot& slot : slots) {
        if (!slot.entry.ok()) return failed<PackedEntries>(*slot.entry.error);
    }
    PackedEntries packed;
    packed.entries.reserve(slots.size());
    for (PackSlot& slot : slots) {
        if (slot.entry.value.from_cache) ++packed.from_cache;
        if (slot.cache_problem && !packed.cache_problem) packed.cache_problem = std::move(slot.cache_problem);
        packed.entries.push_back(std::move(slot.entry.value));
    }
    return succeeded(std::move(packed));
}

std::optional<Error> check_entries(const std::vector<PackedEntry>& entries, std::string_view exe) {
    // The reader decodes text with replacement, so other bytes would not read back as written.
    if (!is_valid_utf8(exe)) return invalid_input("launch path is not valid UTF-8");
    for (const PackedEntry& entry : entries) {
        if (!is_valid_utf8(entry.name)) return invalid_input("entry name \"" + entry.name + "\" is not valid UTF-8");
        if (entry.md5.size() != DIGEST_SIZE) {
            return invalid_input("digest of \"" + entry.name + "\" has " + std::to_string(entry.md5.size()) +
                                 " characters instead of 32");
        }
        // The reader looks for the closing magic where each entry starts; a name
        // of exactly this length starting so would read as the end of the list.
        if (entry.name.size() == 0x7175696C && entry.name.starts_with("lbox")) {
            return invalid_input(
                "an entry name of 1903520108 bytes starting with \"lbox\" reads back as the end marker");
        }
    }
    return std::nullopt;
}

std::optional<Error> check_compress_options(const CompressOptions& options) {
    if (options.quality < BROTLI_MIN_QUALITY || options.quality > BROTLI_MAX_QUALITY) {
        return invalid_input("quality " + std::to_string(options.quality) + " is outside 0..11");
    }
    // Larger windows need brotli's non-standard large-window mode, which the launcher's decoder does not enable.
    if (options.window < BROTLI_MIN_WINDOW_BITS || options.window > BROTLI_MAX_WINDOW_BITS) {
        return invalid_input("window " + std::to_string(options.window) + " is outside 10..24");
    }
    return std::nullopt;
}

}  // namespace

Outcome<std::vector<InputFile>> collect_folder(const fs::path& folder, std::vector<fs::path>* skipped_links) {
    using Result = std::vector<InputFile>;
    Outcome<FolderWalk> walk = walk_folder(folder);
    if (!walk.ok()) return failed<Result>(*walk.error);
    Result inputs;
    inputs.reserve(walk.value.files.size());
    for (const FoundFile& file : walk.value.files) {
        Outcome<std::string> name = entry_name(file.parts, file.source);
        if (!name.ok()) return failed<Result>(*name.error);
        inputs.push_back(InputFile{std::move(name.value), file.source, file.size});
    }
    std::sort(inputs.begin(), inputs.end(), [](const InputFile& a, const InputFile& b) { return a.name < b.name; });
    if (std::optional<Error> error = check_input_names(inputs)) return failed<Result>(*error);
    if (skipped_links) *skipped_links = std::move(walk.value.skipped_links);
    return succeeded(std::move(inputs));
}

Outcome<std::vector<InputFile>> collect_files(const std::vector<fs::path>& files) {
    using Result = std::vector<InputFile>;
    Result inputs;
    for (const fs::path& file : files) {
        const Outcome<FileFacts> facts = file_facts(file);
        if (!facts.ok()) return failed<Result>(*facts.error);
        if (facts.value.kind == FileKind::missing) {
            return failed<Result>(invalid_input("cannot open file " + quoted(file) + ": it does not exist"));
        }
        if (facts.value.kind != FileKind::file)
            return failed<Result>(invalid_input(quoted(file) + " is not a regular file"));
        const fs::path base = file.filename();
        if (base.empty() || base == "." || base == "..") {
            return failed<Result>(invalid_input(quoted(file) + " has no file name"));
        }
        Outcome<std::string> name = entry_name({path_text(base)}, file);
        if (!name.ok()) return failed<Result>(*name.error);
        inputs.push_back(InputFile{std::move(name.value), file, facts.value.size});
    }
    if (std::optional<Error> error = check_input_names(inputs)) return failed<Result>(*error);
    return succeeded(std::move(inputs));
}

Outcome<PackedEntries> pack_entries(const std::vector<InputFile>& inputs, const CompressOptions& options,
                                    const ProgressFn& progress) {
    if (std::optional<Error> error = check_compress_options(options)) return failed<PackedEntries>(*error);

    CacheRun cache;
    std::optional<Error> folder_problem;
    if (options.cache) {
        folder_problem = create_folders(*options.cache);
        if (!folder_problem) cache = CacheRun{options.cache, encoder_fingerprint(options.quality, options.window)};
    }
    const size_t count = inputs.size();
    std::vector<PackSlot> slots(count);
    std::atomic<size_t> next{0};
    std::atomic<size_t> files_done{0};
    std::atomic<size_t> from_cache{0};
    std::atomic<uint64_t> bytes_done{0};
    std::atomic<bool> stop{false};

    // Each result goes to its input's slot, so the order never depends on timing.
    auto work = [&] {
        while (!stop.load()) {
            const size_t i = next.fetch_add(1);
            if (i >= count) return;
            slots[i] = pack_guarded(inputs[i], options, cache);
            const Outcome<PackedEntry>& entry = slots[i].entry;
            if (!entry.ok()) stop = true;
            bytes_done += entry.value.plain_size;
            if (entry.value.from_cache) ++from_cache;
            ++files_done;
        }
    };
    const unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    run_in_parallel(static_cast<unsigned>(std::min<size_t>(jobs, count)), work, [&] {
        if (progress) progress(PackProgress{files_done.load(), bytes_done.load(), from_cache.load()});
    });
    Outcome<PackedEntries> packed = in_input_order(slots);
    if (packed.ok() && folder_problem) packed.value.cache_problem = folder_problem;
    if (packed.ok() && cache.folder) trim_cache(*cache.folder, options.cache_limit);
    return packed;
}

Outcome<uint64_t> payload_size(std::span<const EntrySize> entries, uint64_t exe_size) {
    auto too_large = [](std::string what, uint64_t size) {
        return failed<uint64_t>(
            invalid_input(what + " of " + std::to_string(size) + " bytes does not fit the payload's 32-bit lengths"));
    };
    uint64_t total = 2 * BIN_MAGIC.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const EntrySize& entry = entries[i];
        if (entry.name > FIELD_LIMIT) return too_large("the name of entry " + std::to_string(i), entry.name);
        if (entry.data > FIELD_LIMIT) return too_large("the data of entry " + std::to_string(i), entry.data);
        // Each term is below 2^32 and so is `total`, so the sum cannot wrap.
        total += 4 + entry.name + 4 + entry.data + DIGEST_SIZE;
        if (total > FIELD_LIMIT) return too_large("a payload with " + std::to_string(i + 1) + " entries", total);
    }
    if (exe_size > FIELD_LIMIT - total) {
        return too_large("the payload with its launch path", exe_size > FIELD_LIMIT ? exe_size : total + exe_size);
    }
    return succeeded(total + exe_size);
}

std::optional<Error> write_payload(const std::vector<PackedEntry>& entries, std::string_view exe,
                                   const ByteSink& sink) {
    std::vector<EntrySize> sizes;
    sizes.reserve(entries.size());
    for (const PackedEntry& entry : entries) sizes.push_back(EntrySize{entry.name.size(), entry.data.size()});
    Outcome<uint64_t> size = payload_size(sizes, exe.size());
    if (!size.ok()) return size.error;
    if (std::optional<Error> error = check_entries(entries, exe)) return error;

    if (std::optional<Error> error = sink(view_of(BIN_MAGIC))) return error;
    std::vector<uint8_t> header;
    for (const PackedEntry& entry : entries) {
        header.clear();
        put_u32be(header, entry.name.size());
        header.insert(header.end(), entry.name.begin(), entry.name.end());
        put_u32be(header, entry.data.size());
        if (std::optional<Error> error = sink(Bytes(header))) return error;
        if (std::optional<Error> error = sink(Bytes(entry.data))) return error;
        if (std::optional<Error> error = sink(view_of(entry.md5))) return error;
    }
    if (std::optional<Error> error = sink(view_of(BIN_MAGIC))) return error;
    return sink(view_of(exe));
}

}  // namespace quillbox::pack
