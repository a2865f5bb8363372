#include "payload_writer.h"

#include <brotli/encode.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"

namespace quillbox::pack {
namespace fs = std::filesystem;
namespace {

constexpr auto PROGRESS_TICK = std::chrono::milliseconds(200);


bool is_utf8(std::string_view text) { return utf8_lossy(text) == text; }

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// CON, NUL, COM1 and the like name devices in every folder, with any extension.
bool is_device_name(std::string_view part) {
    const std::string stem = ascii_lower(part.substr(0, part.find('.')));
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (stem == device) return true;
    }
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '1' && stem[3] <= '9';
}

// Why Windows cannot hold `part` as a file name, or nothing. The launcher would
// otherwise write such an entry somewhere else: "a:b" into a stream of "a",
// "x." into "x", "nul.txt" into the null device.
std::optional<std::string> windows_name_problem(std::string_view part) {
    for (char c : part) {
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
            return "holds a character Windows does not allow in names";
        }
    }
    if (part.ends_with('.') || part.ends_with(' ')) return "ends in a dot or a space, which Windows drops";
    if (is_device_name(part)) return "is a Windows device name";
    return std::nullopt;
}

// One path element of an entry name. A '\' inside a Linux file name would
// become a folder separator on Windows, so such names cannot go in as they are.
std::optional<Error> check_name_part(const std::string& part, const fs::path& source) {
    if (part.find('\\') != std::string::npos) {
        return invalid_input("file name " + quoted(source) + " holds a '\\', which Windows takes as a folder separator");
    }
    if (!is_utf8(part)) return invalid_input("file name " + quoted(source) + " is not valid UTF-8");
    if (std::optional<std::string> problem = windows_name_problem(part)) {
        return invalid_input("file name " + quoted(source) + " " + *problem);
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
    return Outcome<std::string>{std::move(name), std::nullopt};
}

// Windows file names ignore case, so two names that differ only in case would
// be extracted over each other.
std::optional<Error> check_unique_names(const std::vector<InputFile>& inputs) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) keys.emplace_back(ascii_lower(inputs[i].name), i);
    std::sort(keys.begin(), keys.end());
    for (size_t k = 1; k < keys.size(); ++k) {
        if (keys[k - 1].first != keys[k].first) continue;
        const InputFile& a = inputs[keys[k - 1].second];
        const InputFile& b = inputs[keys[k].second];
        if (a.name == b.name) {
            return invalid_input(quoted(a.source) + " and " + quoted(b.source) + " would both be stored as \"" + a.name +
                                 "\"");
        }
        return invalid_input("entry names \"" + a.name + "\" and \"" + b.name +
                             "\" differ only in case; Windows would store them as one file");
    }
    return std::nullopt;
}

Outcome<PackedEntry> pack_one(const InputFile& input, int quality, int window) {
    Outcome<std::vector<uint8_t>> content = read_whole_file(input.source);
    if (!content.ok()) return failed<PackedEntry>(*content.error);
    Outcome<std::vector<uint8_t>> data = compress_content(Bytes(content.value), quality, window);
    if (!data.ok()) {
        return failed<PackedEntry>(plain_error("cannot compress " + quoted(input.source) + ": " + describe(*data.error)));
    }
    PackedEntry entry{input.name, std::move(data.value), md5_hex(Bytes(content.value)), content.value.size()};
    return Outcome<PackedEntry>{std::move(entry), std::nullopt};
}

void put_u32be(std::string& out, uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

std::optional<Error> check_entries(const std::vector<PackedEntry>& entries, std::string_view exe) {
    // The reader decodes text with replacement, so other bytes would not read back as written.
    if (!is_utf8(exe)) return invalid_input("launch path is not valid UTF-8");
    for (const PackedEntry& entry : entries) {
        if (!is_utf8(entry.name)) return invalid_input("entry name \"" + entry.name + "\" is not valid UTF-8");
        if (entry.md5.size() != DIGEST_SIZE) {
            return invalid_input("digest of \"" + entry.name + "\" has " + std::to_string(entry.md5.size()) +
                                 " characters instead of 32");
        }
        // The reader looks for the closing magic where each entry starts; a name
        // of exactly this length starting so would read as the end of the list.
        if (entry.name.size() == 0x7175696C && entry.name.starts_with("lbox")) {
            return invalid_input("an entry name of 1903520108 bytes starting with \"lbox\" reads back as the end marker");
        }
    }
    return std::nullopt;
}

}  // namespace

Error fs_failure(std::string_view operation, const fs::path& object, const std::error_code& ec) {
    return plain_error(std::string(operation) + " " + quoted(object) + ": " + ec.message());
}

Outcome<std::vector<InputFile>> collect_folder(const fs::path& folder) {
    using Result = std::vector<InputFile>;
    Outcome<std::vector<FoundFile>> found = walk_folder(folder);
    if (!found.ok()) return failed<Result>(*found.error);
    Result inputs;
    inputs.reserve(found.value.size());
    for (const FoundFile& file : found.value) {
        Outcome<std::string> name = entry_name(file.parts, file.source);
        if (!name.ok()) return failed<Result>(*name.error);
        inputs.push_back(InputFile{std::move(name.value), file.source, file.size});
    }
    std::sort(inputs.begin(), inputs.end(), [](const InputFile& a, const InputFile& b) { return a.name < b.name; });
    if (std::optional<Error> error = check_unique_names(inputs)) return failed<Result>(*error);
    return Outcome<Result>{std::move(inputs), std::nullopt};
}

Outcome<std::vector<InputFile>> collect_files(const std::vector<fs::path>& files) {
    using Result = std::vector<InputFile>;
    Result inputs;
    for (const fs::path& file : files) {
        std::error_code ec;
        const fs::file_status status = fs::status(file, ec);
        if (ec) return failed<Result>(fs_failure("cannot open file", file, ec));
        if (!fs::is_regular_file(status)) return failed<Result>(invalid_input(quoted(file) + " is not a regular file"));
        const fs::path base = file.filename();
        if (base.empty() || base == "." || base == "..") {
            return failed<Result>(invalid_input(quoted(file) + " has no file name"));
        }
        Outcome<std::string> name = entry_name({path_text(base)}, file);
        if (!name.ok()) return failed<Result>(*name.error);
        const uint64_t size = fs::file_size(file, ec);
        inputs.push_back(InputFile{std::move(name.value), file, ec ? 0 : size});
    }
    if (std::optional<Error> error = check_unique_names(inputs)) return failed<Result>(*error);
    return Outcome<Result>{std::move(inputs), std::nullopt};
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

Outcome<std::vector<uint8_t>> compress_content(Bytes content, int quality, int window) {
    using Result = std::vector<uint8_t>;
    const size_t bound = BrotliEncoderMaxCompressedSize(content.size());
    if (bound == 0) return failed<Result>(invalid_input(std::to_string(content.size()) + " bytes are too many for brotli"));
    Result out(bound);
    size_t size = bound;
    if (!BrotliEncoderCompress(quality, window, BROTLI_MODE_GENERIC, content.size(), content.data(), &size,
                               out.data())) {
        return failed<Result>(plain_error("brotli encoder failed"));
    }
    out.resize(size);
    out.shrink_to_fit();  // every stream is held until the payload is written
    return Outcome<Result>{std::move(out), std::nullopt};
}

Outcome<std::vector<PackedEntry>> pack_entries(const std::vector<InputFile>& inputs, const CompressOptions& options,
                                               const ProgressFn& progress) {
    using Result = std::vector<PackedEntry>;
    if (std::optional<Error> error = check_compress_options(options)) return failed<Result>(*error);

    const size_t count = inputs.size();
    std::vector<Outcome<PackedEntry>> results(count);
    std::atomic<size_t> next{0};
    std::atomic<size_t> files_done{0};
    std::atomic<uint64_t> bytes_done{0};
    std::atomic<bool> stop{false};

    // Each result goes to its input's slot, so the order never depends on timing.
    auto work = [&] {
        while (!stop.load()) {
            const size_t i = next.fetch_add(1);
            if (i >= count) return;
            try {
                results[i] = pack_one(inputs[i], options.quality, options.window);
            } catch (const std::bad_alloc&) {
                results[i] = failed<PackedEntry>(out_of_memory_error("cannot pack " + quoted(inputs[i].source)));
            }
            if (!results[i].ok()) stop = true;
            bytes_done += results[i].value.plain_size;
            ++files_done;
        }
    };

    unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, count));
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

    auto report = [&] {
        if (progress) progress(PackProgress{files_done.load(), bytes_done.load()});
    };
    for (bool done = false; !done;) {
        {
            std::unique_lock lock(mutex);
            done = finished.wait_for(lock, PROGRESS_TICK, [&] { return running == 0; });
        }
        report();
    }
    workers.clear();  // joins

    // Inputs are handed out in order, so any failed slot comes before the ones
    // never reached after the stop.
    for (Outcome<PackedEntry>& result : results) {
        if (!result.ok()) return failed<Result>(*result.error);
    }
    Result entries;
    entries.reserve(count);
    for (Outcome<PackedEntry>& result : results) entries.push_back(std::move(result.value));
    return Outcome<Result>{std::move(entries), std::nullopt};
}

Outcome<uint64_t> payload_size(std::span<const EntrySize> entries, uint64_t exe_size) {
    auto too_large = [](std::string what, uint64_t size) {
        return failed<uint64_t>(invalid_input(what + " of " + std::to_string(size) +
                                              " bytes does not fit the payload's 32-bit lengths"));
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
    return Outcome<uint64_t>{total + exe_size, std::nullopt};
}

std::optional<Error> write_payload(const std::vector<PackedEntry>& entries, std::string_view exe, const ByteSink& sink) {
    std::vector<EntrySize> sizes;
    sizes.reserve(entries.size());
    for (const PackedEntry& entry : entries) sizes.push_back(EntrySize{entry.name.size(), entry.data.size()});
    Outcome<uint64_t> size = payload_size(sizes, exe.size());
    if (!size.ok()) return size.error;
    if (std::optional<Error> error = check_entries(entries, exe)) return error;

    if (std::optional<Error> error = sink(view_of(BIN_MAGIC))) return error;
    std::string header;
    for (const PackedEntry& entry : entries) {
        header.clear();
        put_u32be(header, entry.name.size());
        header += entry.name;
        put_u32be(header, entry.data.size());
        if (std::optional<Error> error = sink(view_of(header))) return error;
        if (std::optional<Error> error = sink(Bytes(entry.data))) return error;
        if (std::optional<Error> error = sink(view_of(entry.md5))) return error;
    }
    if (std::optional<Error> error = sink(view_of(BIN_MAGIC))) return error;
    return sink(view_of(exe));
}

Outcome<std::vector<uint8_t>> encode_payload(const std::vector<PackedEntry>& entries, std::string_view exe) {
    std::vector<uint8_t> out;
    std::optional<Error> error = write_payload(entries, exe, [&](Bytes bytes) -> std::optional<Error> {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return std::nullopt;
    });
    if (error) return failed<std::vector<uint8_t>>(*error);
    return Outcome<std::vector<uint8_t>>{std::move(out), std::nullopt};
}

Outcome<fs::path> unpack_relative_path(std::string_view name) {
    auto refuse = [&](std::string_view why) {
        return failed<fs::path>(invalid_input("entry name \"" + printable(name) + "\" " + std::string(why)));
    };
    if (name.find('\0') != std::string_view::npos) return refuse("holds a NUL character");
    if (!name.empty() && (name.front() == '\\' || name.front() == '/')) return refuse("is rooted");
    if (name.find(':') != std::string_view::npos) return refuse("holds a ':' (a drive or a stream)");

    fs::path relative;
    for (size_t start = 0; start <= name.size();) {
        size_t end = std::min(name.find_first_of("\\/", start), name.size());
        const std::string_view part = name.substr(start, end - start);
        if (part == "..") return refuse("leaves the folder through \"..\"");
        if (!part.empty() && part != ".") relative /= path_from_text(part);
        start = end + 1;
    }
    if (relative.empty()) return refuse("names no file");
    return Outcome<fs::path>{std::move(relative), std::nullopt};
}

std::string printable(std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 0xF];
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // C1 controls, e.g. U+009B (CSI)
            out += "\\u00";
            out += HEX[next >> 4];
            out += HEX[next & 0xF];
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace quillbox::pack
