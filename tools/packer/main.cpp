// quillbox-pack: builds the payload the launcher carries, and lists, verifies and
// unpacks existing ones with the launcher's own reader.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"
#include "payload_writer.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr double MIB = 1024.0 * 1024.0;
constexpr auto PROGRESS_DELAY = std::chrono::seconds(1);

constexpr char USAGE[] =
    "usage: quillbox-pack pack OUT (DIR | --files FILE...) [--exe PATH] [--quality Q] [--window W] [--jobs N]\n"
    "       quillbox-pack list PAYLOAD\n"
    "       quillbox-pack verify PAYLOAD\n"
    "       quillbox-pack unpack PAYLOAD DIR\n"
    "\n"
    "pack    writes OUT from every file under DIR, or from the files listed\n"
    "        --exe      launch path (default .\\quillbox.exe)\n"
    "        --quality  brotli quality 0..11 (default 11)\n"
    "        --window   brotli window bits 10..24 (default 22)\n"
    "        --jobs     files compressed at once (default: one per core)\n"
    "list    one line per entry: name, compressed size, plain size, digest\n"
    "verify  decompresses every entry and checks its digest\n"
    "unpack  writes every entry's content under DIR\n";

struct UsageError {
    std::string text;
};

struct PackArgs {
    fs::path out;
    std::optional<fs::path> folder;
    std::vector<fs::path> files;
    bool files_given = false;
    std::string exe{DEFAULT_EXE};
    CompressOptions compress;
};

int usage_failure(const std::string& text) {
    std::fprintf(stderr, "quillbox-pack: %s\n%s", text.c_str(), USAGE);
    return EXIT_USAGE;
}

int failure(const std::string& text) {
    std::fprintf(stderr, "quillbox-pack: %s\n", text.c_str());
    return EXIT_FAILED;
}

std::optional<int> parse_int(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<UsageError> parse_pack_args(const std::vector<std::string_view>& args, PackArgs& out) {
    if (args.empty() || args[0].starts_with("--")) return UsageError{"pack needs an output file first"};
    out.out = fs::path(args[0]);
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        auto number = [&](int low, int high, int& target) -> std::optional<UsageError> {
            std::optional<std::string_view> text = value();
            std::optional<int> parsed = text ? parse_int(*text, low, high) : std::nullopt;
            if (!parsed) {
                return UsageError{std::string(arg) + " needs a whole number from " + std::to_string(low) + " to " +
                                  std::to_string(high)};
            }
            target = *parsed;
            return std::nullopt;
        };
        if (arg == "--files") {
            out.files_given = true;
        } else if (arg == "--exe") {
            std::optional<std::string_view> text = value();
            if (!text) return UsageError{"--exe needs a launch path"};
            out.exe = std::string(*text);
            if (utf8_lossy(out.exe) != out.exe) return UsageError{"--exe: the launch path is not valid UTF-8"};
        } else if (arg == "--quality") {
            if (auto error = number(0, 11, out.compress.quality)) return error;
        } else if (arg == "--window") {
            if (auto error = number(10, 24, out.compress.window)) return error;
        } else if (arg == "--jobs") {
            int jobs = 0;
            if (auto error = number(1, 1024, jobs)) return error;
            out.compress.jobs = static_cast<unsigned>(jobs);
        } else if (arg.starts_with("--")) {
            return UsageError{"unknown option " + std::string(arg)};
        } else if (out.files_given) {
            out.files.emplace_back(arg);
        } else if (!out.folder) {
            out.folder = fs::path(arg);
        } else {
            return UsageError{"pack takes one folder; use --files to list files"};
        }
    }
    if (out.files_given && out.folder) return UsageError{"give either a folder or --files, not both"};
    if (out.files_given && out.files.empty()) return UsageError{"--files needs at least one file"};
    if (!out.files_given && !out.folder) return UsageError{"pack needs a folder or --files"};
    return std::nullopt;
}

struct ProgressLine {
    bool enabled = false;
    Clock::time_point start;
    size_t total_files = 0;
    uint64_t total_bytes = 0;
    bool shown = false;
};

void show_progress(ProgressLine& line, const PackProgress& progress) {
    if (!line.enabled || Clock::now() - line.start <= PROGRESS_DELAY) return;
    // "\r" and erase-to-end-of-line redraw the same line in place.
    std::fprintf(stderr, "\r%zu/%zu files, %.1f/%.1f MiB\x1b[K", progress.files_done, line.total_files,
                 double(progress.bytes_done) / MIB, double(line.total_bytes) / MIB);
    std::fflush(stderr);
    line.shown = true;
}

void clear_progress(const ProgressLine& line) {
    if (line.shown) std::fputs("\r\x1b[K", stderr);
}

// A payload that lists itself among its inputs would grow with every run.
std::optional<std::string> output_among_inputs(const fs::path& out, const std::vector<InputFile>& inputs) {
    std::error_code ec;
    if (!fs::exists(out, ec)) return std::nullopt;
    for (const InputFile& input : inputs) {
        if (fs::equivalent(out, input.source, ec)) {
            return "the output file \"" + out.string() + "\" is also an input (" + input.name + ")";
        }
    }
    return std::nullopt;
}

int run_pack(const std::vector<std::string_view>& args) {
    PackArgs pack;
    if (std::optional<UsageError> error = parse_pack_args(args, pack)) return usage_failure(error->text);
    const Clock::time_point start = Clock::now();

    // Checked before compressing, which can take minutes.
    const fs::path out_folder = pack.out.parent_path().empty() ? fs::path(".") : pack.out.parent_path();
    std::error_code ec;
    if (!fs::is_directory(out_folder, ec)) {
        return failure("cannot write \"" + pack.out.string() + "\": folder \"" + out_folder.string() +
                       "\" does not exist");
    }
    if (fs::is_directory(pack.out, ec)) return failure("cannot write \"" + pack.out.string() + "\": it is a folder");

    Outcome<std::vector<InputFile>> inputs = pack.files_given ? collect_files(pack.files) : collect_folder(*pack.folder);
    if (!inputs.ok()) return failure(describe(*inputs.error));
    if (std::optional<std::string> clash = output_among_inputs(pack.out, inputs.value)) return failure(*clash);
    const bool exe_found = std::any_of(inputs.value.begin(), inputs.value.end(),
                                       [&](const InputFile& input) { return input.name == pack.exe; });
    if (!exe_found) {
        std::fprintf(stderr, "quillbox-pack: warning: launch path \"%s\" names no entry\n",
                     printable(pack.exe).c_str());
    }

    ProgressLine line{::isatty(STDERR_FILENO) == 1, start, inputs.value.size(), 0, false};
    for (const InputFile& input : inputs.value) line.total_bytes += input.size;
    Outcome<std::vector<PackedEntry>> entries =
        pack_entries(inputs.value, pack.compress, [&](const PackProgress& progress) { show_progress(line, progress); });
    clear_progress(line);
    if (!entries.ok()) return failure(describe(*entries.error));

    uint64_t written = 0;
    std::optional<Error> error = write_file_atomically(pack.out, [&](const ByteSink& sink) {
        return write_payload(entries.value, pack.exe, [&](Bytes bytes) {
            written += bytes.size();
            return sink(bytes);
        });
    });
    if (error) return failure(describe(*error));

    uint64_t plain = 0;
    for (const PackedEntry& entry : entries.value) plain += entry.plain_size;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "packed %zu files: %.1f MiB in, %.1f MiB out, %.1f s, %.1f MiB/s\n", entries.value.size(),
                 double(plain) / MIB, double(written) / MIB, seconds, seconds > 0 ? double(plain) / MIB / seconds : 0.0);
    return 0;
}

// The payload's bytes and the launcher's reading of them; the entries point into `bytes`.
struct LoadedPayload {
    std::vector<uint8_t> bytes;
    BinReader reader;
};

std::optional<std::string> load_payload(const fs::path& path, LoadedPayload& out) {
    Outcome<std::vector<uint8_t>> bytes = read_whole_file(path);
    if (!bytes.ok()) return describe(*bytes.error);
    out.bytes = std::move(bytes.value);
    Outcome<BinReader> parsed = parse_payload(Bytes(out.bytes.data(), out.bytes.size()));
    if (!parsed.ok()) return "damaged payload \"" + path.string() + "\": " + describe(*parsed.error);
    out.reader = std::move(parsed.value);
    return std::nullopt;
}

std::string entry_problem(const BinEntry& entry, const Outcome<ChunkedBytes>& plain) {
    if (!plain.ok()) return describe(*plain.error);
    const std::string actual = md5_hex(plain.value.views());
    if (digest_matches(entry.md5, actual)) return "";
    return "digest mismatch: stored " + printable(digest_text(entry.md5)) + ", content " + actual;
}

int run_list(const fs::path& path) {
    LoadedPayload payload;
    if (std::optional<std::string> error = load_payload(path, payload)) return failure(*error);
    size_t damaged = 0;
    for (const BinEntry& entry : payload.reader.files) {
        const Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
        const std::string plain_size = plain.ok() ? std::to_string(plain.value.size) : "?";
        std::printf("%s\t%zu\t%s\t%s\n", printable(entry.name).c_str(), entry.data.size(), plain_size.c_str(),
                    printable(digest_text(entry.md5)).c_str());
        if (!plain.ok()) {
            ++damaged;
            std::fprintf(stderr, "quillbox-pack: entry \"%s\": %s\n", printable(entry.name).c_str(),
                         describe(*plain.error).c_str());
        }
    }
    std::printf("launch path: %s\n", printable(payload.reader.exe).c_str());
    return damaged == 0 ? 0 : EXIT_FAILED;
}

int run_verify(const fs::path& path) {
    LoadedPayload payload;
    if (std::optional<std::string> error = load_payload(path, payload)) return failure(*error);
    size_t bad = 0;
    uint64_t plain_bytes = 0;
    for (const BinEntry& entry : payload.reader.files) {
        const Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
        const std::string problem = entry_problem(entry, plain);
        if (!problem.empty()) {
            ++bad;
            std::printf("bad\t%s\t%s\n", printable(entry.name).c_str(), problem.c_str());
        } else {
            plain_bytes += plain.value.size;
        }
    }
    const size_t total = payload.reader.files.size();
    if (bad != 0) return failure(std::to_string(bad) + " of " + std::to_string(total) + " entries are damaged");
    std::printf("ok: %zu entries, %.1f MiB\n", total, double(plain_bytes) / MIB);
    return 0;
}

int run_unpack(const fs::path& path, const fs::path& folder) {
    LoadedPayload payload;
    if (std::optional<std::string> error = load_payload(path, payload)) return failure(*error);

    // Every name is checked before anything is written.
    std::vector<fs::path> targets;
    std::error_code ec;
    for (const BinEntry& entry : payload.reader.files) {
        Outcome<fs::path> relative = unpack_relative_path(entry.name);
        if (!relative.ok()) return failure(describe(*relative.error));
        targets.push_back(folder / relative.value);
    }
    fs::create_directories(folder, ec);
    if (ec) return failure("cannot create folder \"" + folder.string() + "\": " + ec.message());

    for (size_t i = 0; i < targets.size(); ++i) {
        const BinEntry& entry = payload.reader.files[i];
        const Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
        const std::string problem = entry_problem(entry, plain);
        if (!problem.empty()) return failure("entry \"" + printable(entry.name) + "\": " + problem);

        fs::create_directories(targets[i].parent_path(), ec);
        if (ec) return failure("cannot create folder \"" + targets[i].parent_path().string() + "\": " + ec.message());
        // Written through a new file renamed into place, so an existing link
        // at the target is replaced rather than followed.
        std::optional<Error> error = write_file_atomically(
            targets[i],
            [&](const ByteSink& sink) {
                for (const ByteBuffer& chunk : plain.value.chunks) {
                    if (std::optional<Error> error = sink(chunk.view())) return error;
                }
                return std::optional<Error>();
            },
            false);
        if (error) return failure(describe(*error));
    }
    return 0;
}

int run(const std::vector<std::string_view>& args) {
    if (args.empty()) return usage_failure("no command given");
    const std::string_view command = args[0];
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    if (command == "pack") return run_pack(rest);
    if (command == "list" || command == "verify") {
        if (rest.size() != 1) return usage_failure(std::string(command) + " takes one payload file");
        return command == "list" ? run_list(fs::path(rest[0])) : run_verify(fs::path(rest[0]));
    }
    if (command == "unpack") {
        if (rest.size() != 2) return usage_failure("unpack takes a payload file and a folder");
        return run_unpack(fs::path(rest[0]), fs::path(rest[1]));
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    return usage_failure("unknown command " + std::string(command));
}

}  // namespace
}  // namespace quillbox::pack

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    int status = quillbox::pack::run(args);
    // A listing cut short by a full disk or a closed pipe must not end in success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("quillbox-pack: cannot write to standard output");
        return status == 0 ? 1 : status;
    }
    return status;
}
