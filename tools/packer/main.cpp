// quillbox-pack: builds the payload the launcher carries and the launcher
// around it, and lists, verifies and unpacks existing ones with the launcher's
// own reader.
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
#include "bin_reader/pe_section.h"
#include "file_system.h"
#include "payload_writer.h"
#include "stub_image.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr double MIB = 1024.0 * 1024.0;
constexpr auto PROGRESS_DELAY = std::chrono::seconds(1);

constexpr char STUB_NAME[] = "quillbox-stub.exe";

constexpr char USAGE[] =
    "usage: quillbox-pack build (DIR | PAYLOAD) -o OUT.exe [--stub STUB] [--exe PATH] [--quality Q] [--window W]\n"
    "                           [--jobs N] [--no-verify] [--quiet]\n"
    "       quillbox-pack pack OUT (DIR | --files FILE...) [--exe PATH] [--quality Q] [--window W] [--jobs N] [--quiet]\n"
    "       quillbox-pack list (PAYLOAD | EXE)\n"
    "       quillbox-pack verify (PAYLOAD | EXE)\n"
    "       quillbox-pack unpack (PAYLOAD | EXE) DIR\n"
    "\n"
    "build   writes the launcher OUT.exe: the stub with the payload packed from DIR,\n"
    "        or a ready payload (verified first), in a section of its own\n"
    "        --stub       the payload-less launcher (default: quillbox-stub.exe beside\n"
    "                     this program)\n"
    "        --no-verify  embeds a ready payload as it is, damaged or not\n"
    "pack    writes the payload OUT from every file under DIR, or from the files listed\n"
    "        --exe      launch path (default .\\quillbox.exe)\n"
    "        --quality  brotli quality 0..11 (default 11)\n"
    "        --window   brotli window bits 10..24 (default 22)\n"
    "        --jobs     files compressed at once (default: one per core)\n"
    "        --quiet    prints nothing but errors\n"
    "list    one line per entry: name, compressed size, plain size, digest\n"
    "verify  decompresses every entry, checks its digest and that its name stays in the folder\n"
    "unpack  writes every entry's content under DIR\n"
    "A built launcher (EXE) is read through its payload section.\n";

struct UsageError {
    std::string text;
};

enum class Command { pack, build };

struct PackArgs {
    fs::path out;
    std::optional<fs::path> folder;  // for build: the folder or the payload file
    std::vector<fs::path> files;
    bool files_given = false;
    std::string exe{DEFAULT_EXE};
    bool exe_given = false;
    CompressOptions compress;
    bool compress_given = false;
    std::optional<fs::path> stub;
    bool verify = true;
    bool quiet = false;
    bool terminal = false;  // standard error takes the progress line
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

std::optional<UsageError> parse_pack_args(Command command, const std::vector<std::string_view>& args, PackArgs& out) {
    const bool build = command == Command::build;
    size_t i = 0;
    if (!build) {
        if (args.empty() || args[0].starts_with("--")) return UsageError{"pack needs an output file first"};
        out.out = path_from_text(args[i++]);
    }
    for (; i < args.size(); ++i) {
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
        if (arg == "--files" && !build) {
            out.files_given = true;
        } else if (arg == "-o" && build) {
            std::optional<std::string_view> text = value();
            if (!text) return UsageError{"-o needs an output file"};
            out.out = path_from_text(*text);
        } else if (arg == "--stub" && build) {
            std::optional<std::string_view> text = value();
            if (!text) return UsageError{"--stub needs a file"};
            out.stub = path_from_text(*text);
        } else if (arg == "--no-verify" && build) {
            out.verify = false;
        } else if (arg == "--quiet") {
            out.quiet = true;
        } else if (arg == "--exe") {
            std::optional<std::string_view> text = value();
            if (!text) return UsageError{"--exe needs a launch path"};
            out.exe = std::string(*text);
            out.exe_given = true;
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
            out.files.push_back(path_from_text(arg));
        } else if (!out.folder) {
            out.folder = path_from_text(arg);
        } else {
            return UsageError{build ? "build takes one folder or payload file" : "pack takes one folder; use --files to list files"};
        }
        if (arg == "--quality" || arg == "--window" || arg == "--jobs") out.compress_given = true;
    }
    if (build) {
        if (!out.folder) return UsageError{"build needs a folder or a payload file"};
        if (out.out.empty()) return UsageError{"build needs an output file: -o OUT.exe"};
        return std::nullopt;
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

// "1 min 05 s", "12 s".
std::string duration_text(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole < 60) {
        std::snprintf(text, sizeof text, "%ld s", whole);
    } else {
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    }
    return text;
}

// The time left if the rest goes at the pace so far, or nothing before any
// progress has been made.
std::optional<double> seconds_left(double elapsed, uint64_t done, uint64_t total) {
    if (done == 0 || done > total) return std::nullopt;
    return elapsed * double(total - done) / double(done);
}

void show_progress(ProgressLine& line, const PackProgress& progress) {
    const Clock::duration since = Clock::now() - line.start;
    if (!line.enabled || since <= PROGRESS_DELAY) return;
    const double elapsed = std::chrono::duration<double>(since).count();
    const std::optional<double> left = seconds_left(elapsed, progress.bytes_done, line.total_bytes);
    const std::string left_text = left ? "about " + duration_text(*left) + " left" : "time left unknown";
    // "\r" and erase-to-end-of-line redraw the same line in place.
    std::fprintf(stderr, "\r%zu/%zu files, %.1f/%.1f MiB, %s elapsed, %s\x1b[K", progress.files_done,
                 line.total_files, double(progress.bytes_done) / MIB, double(line.total_bytes) / MIB,
                 duration_text(elapsed).c_str(), left_text.c_str());
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
            return "the output file " + quoted(out) + " is also an input (" + input.name + ")";
        }
    }
    return std::nullopt;
}

// Checked before compressing, which can take minutes.
std::optional<std::string> output_problem(const fs::path& out) {
    const fs::path out_folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!is_folder(out_folder)) {
        return "cannot write " + quoted(out) + ": folder " + quoted(out_folder) + " does not exist";
    }
    if (is_folder(out)) return "cannot write " + quoted(out) + ": it is a folder";
    return std::nullopt;
}

// The compressed entries of the folder or the files `pack` names, or why not.
std::optional<std::string> pack_inputs(const PackArgs& pack, Clock::time_point start, std::vector<PackedEntry>& out) {
    Outcome<std::vector<InputFile>> inputs = pack.files_given ? collect_files(pack.files) : collect_folder(*pack.folder);
    if (!inputs.ok()) return describe(*inputs.error);
    if (std::optional<std::string> clash = output_among_inputs(pack.out, inputs.value)) return clash;
    const bool exe_found = std::any_of(inputs.value.begin(), inputs.value.end(),
                                       [&](const InputFile& input) { return input.name == pack.exe; });
    if (!exe_found && !pack.quiet) {
        std::fprintf(stderr, "quillbox-pack: warning: launch path \"%s\" names no entry\n",
                     printable(pack.exe).c_str());
    }

    ProgressLine line{!pack.quiet && pack.terminal, start, inputs.value.size(), 0, false};
    for (const InputFile& input : inputs.value) line.total_bytes += input.size;
    Outcome<std::vector<PackedEntry>> entries =
        pack_entries(inputs.value, pack.compress, [&](const PackProgress& progress) { show_progress(line, progress); });
    clear_progress(line);
    if (!entries.ok()) return describe(*entries.error);
    out = std::move(entries.value);
    return std::nullopt;
}

uint64_t plain_total(const std::vector<PackedEntry>& entries) {
    uint64_t plain = 0;
    for (const PackedEntry& entry : entries) plain += entry.plain_size;
    return plain;
}

int run_pack(const std::vector<std::string_view>& args, bool terminal) {
    PackArgs pack;
    pack.terminal = terminal;
    if (std::optional<UsageError> error = parse_pack_args(Command::pack, args, pack)) return usage_failure(error->text);
    const Clock::time_point start = Clock::now();
    if (std::optional<std::string> problem = output_problem(pack.out)) return failure(*problem);

    std::vector<PackedEntry> entries;
    if (std::optional<std::string> problem = pack_inputs(pack, start, entries)) return failure(*problem);

    uint64_t written = 0;
    std::optional<Error> error = write_file_atomically(pack.out, [&](const ByteSink& sink) {
        return write_payload(entries, pack.exe, [&](Bytes bytes) {
            written += bytes.size();
            return sink(bytes);
        });
    });
    if (error) return failure(describe(*error));

    const uint64_t plain = plain_total(entries);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!pack.quiet) {
        std::fprintf(stderr, "packed %zu files: %.1f MiB in, %.1f MiB out, %.1f s, %.1f MiB/s\n", entries.size(),
                     double(plain) / MIB, double(written) / MIB, seconds,
                     seconds > 0 ? double(plain) / MIB / seconds : 0.0);
    }
    return 0;
}

// A file's bytes, the payload among them and the launcher's reading of it;
// `payload` and the entries point into `bytes`.
struct LoadedPayload {
    std::vector<uint8_t> bytes;
    Bytes payload;
    BinReader reader;
};

bool is_image(Bytes bytes) { return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z'; }

// Reads a payload file, or a built launcher through its payload section.
std::optional<std::string> read_payload_bytes(const fs::path& path, LoadedPayload& out) {
    Outcome<std::vector<uint8_t>> bytes = read_whole_file(path);
    if (!bytes.ok()) return describe(*bytes.error);
    out.bytes = std::move(bytes.value);
    out.payload = Bytes(out.bytes.data(), out.bytes.size());
    if (!is_image(out.payload)) return std::nullopt;
    Outcome<Bytes> section = find_section(out.payload, ImageLayout::file, PAYLOAD_SECTION);
    if (!section.ok()) return "cannot read the payload of " + quoted(path) + ": " + describe(*section.error);
    if (section.value.empty()) return quoted(path) + " carries no payload";
    out.payload = section.value;
    return std::nullopt;
}

std::optional<std::string> load_payload(const fs::path& path, LoadedPayload& out) {
    if (std::optional<std::string> error = read_payload_bytes(path, out)) return error;
    Outcome<BinReader> parsed = parse_payload(out.payload);
    if (!parsed.ok()) return "damaged payload " + quoted(path) + ": " + describe(*parsed.error);
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
        // The launcher joins names as they stand, so a name that leaves its
        // folder would write outside it: a ready payload must not hold one.
        const Outcome<fs::path> relative = unpack_relative_path(entry.name);
        const std::string problem = relative.ok() ? entry_problem(entry, plain) : describe(*relative.error);
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
    for (const BinEntry& entry : payload.reader.files) {
        Outcome<fs::path> relative = unpack_relative_path(entry.name);
        if (!relative.ok()) return failure(describe(*relative.error));
        targets.push_back(folder / relative.value);
    }
    if (std::optional<Error> error = create_folders(folder)) return failure(describe(*error));

    for (size_t i = 0; i < targets.size(); ++i) {
        const BinEntry& entry = payload.reader.files[i];
        const Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
        const std::string problem = entry_problem(entry, plain);
        if (!problem.empty()) return failure("entry \"" + printable(entry.name) + "\": " + problem);

        if (std::optional<Error> error = create_folders(targets[i].parent_path())) return failure(describe(*error));
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

// The stub beside this program (the installed layout), else, in the build
// tree's own packer only, the one of the build tree it was built in: the
// shipped packer names no folder of the machine that built it.
std::optional<fs::path> default_stub() {
    if (const std::optional<fs::path> self = own_program(); self && is_file(self->parent_path() / STUB_NAME)) {
        return self->parent_path() / STUB_NAME;
    }
#ifdef QUILLBOX_BUILD_TREE_STUB
    if (is_file(QUILLBOX_BUILD_TREE_STUB)) return fs::path(QUILLBOX_BUILD_TREE_STUB);
#endif
    return std::nullopt;
}

// The first entry that does not decode or whose digest does not match.
std::optional<std::string> first_bad_entry(const BinReader& reader) {
    for (const BinEntry& entry : reader.files) {
        const std::string problem = entry_problem(entry, decompress_stream(entry.data));
        if (!problem.empty()) return "entry \"" + printable(entry.name) + "\": " + problem;
    }
    return std::nullopt;
}

// The payload for `build` taken from a payload file or a built launcher;
// verified unless the caller wants it embedded as it is.
std::optional<std::string> ready_payload(const PackArgs& build, LoadedPayload& out) {
    if (build.exe_given || build.compress_given) return "--exe, --quality, --window and --jobs apply to a folder only";
    const fs::path& path = *build.folder;
    if (!build.verify) return read_payload_bytes(path, out);
    if (std::optional<std::string> error = load_payload(path, out)) return "the payload fails verification: " + *error;
    if (std::optional<std::string> bad = first_bad_entry(out.reader)) {
        return "the payload " + quoted(path) + " fails verification: " + *bad;
    }
    return std::nullopt;
}

int run_build(const std::vector<std::string_view>& args, bool terminal) {
    PackArgs build;
    build.terminal = terminal;
    if (std::optional<UsageError> error = parse_pack_args(Command::build, args, build)) {
        return usage_failure(error->text);
    }
    const Clock::time_point start = Clock::now();
    if (std::optional<std::string> problem = output_problem(build.out)) return failure(*problem);
    const std::optional<fs::path> stub_path = build.stub ? build.stub : default_stub();
    if (!stub_path) return failure(std::string("no ") + STUB_NAME + " beside this program; name one with --stub");
    Outcome<std::vector<uint8_t>> stub = read_whole_file(*stub_path);
    if (!stub.ok()) return failure(describe(*stub.error));
    const Bytes stub_bytes(stub.value.data(), stub.value.size());
    // A stub that cannot take a payload is refused before any compressing.
    if (Outcome<StubLayout> check = place_payload(stub_bytes, 1); !check.ok()) {
        return failure(quoted(*stub_path) + ": " + check.error->text);
    }

    const bool from_folder = is_folder(*build.folder);
    std::vector<PackedEntry> entries;
    LoadedPayload ready;
    if (from_folder) {
        if (std::optional<std::string> problem = pack_inputs(build, start, entries)) return failure(*problem);
    } else if (std::optional<std::string> problem = ready_payload(build, ready)) {
        return failure(*problem);
    }
    // The payload is produced again for each pass instead of being held twice.
    auto feed_payload = [&](const ByteSink& sink) -> std::optional<Error> {
        return from_folder ? write_payload(entries, build.exe, sink) : sink(ready.payload);
    };
    uint64_t payload_size = 0;
    if (std::optional<Error> error = feed_payload([&](Bytes bytes) -> std::optional<Error> {
            payload_size += bytes.size();
            return std::nullopt;
        })) {
        return failure(describe(*error));
    }
    Outcome<StubLayout> layout = place_payload(stub_bytes, payload_size);
    if (!layout.ok()) return failure(quoted(*stub_path) + ": " + layout.error->text);
    set_checksum(layout.value, [&](const auto& add) {
        feed_payload([&](Bytes bytes) -> std::optional<Error> {
            add(bytes);
            return std::nullopt;
        });
    });

    const std::vector<uint8_t> padding(layout.value.padding, 0);
    std::optional<Error> error = write_file_atomically(build.out, [&](const ByteSink& sink) -> std::optional<Error> {
        if (std::optional<Error> failed = sink(Bytes(layout.value.head.data(), layout.value.head.size()))) return failed;
        if (std::optional<Error> failed = feed_payload(sink)) return failed;
        return sink(Bytes(padding.data(), padding.size()));
    });
    if (error) return failure(describe(*error));
    mark_executable(build.out);

    if (!build.quiet) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const uint64_t size = layout.value.head.size() + payload_size + layout.value.padding;
        std::fprintf(stderr, "built %s: %.1f MiB payload, %.1f MiB in all, %.1f s\n", path_text(build.out).c_str(),
                     double(payload_size) / MIB, double(size) / MIB, seconds);
    }
    return 0;
}

int run(const std::vector<std::string_view>& args, bool terminal) {
    if (args.empty()) return usage_failure("no command given");
    const std::string_view command = args[0];
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    if (command == "pack") return run_pack(rest, terminal);
    if (command == "build") return run_build(rest, terminal);
    if (command == "list" || command == "verify") {
        if (rest.size() != 1) return usage_failure(std::string(command) + " takes one payload file");
        return command == "list" ? run_list(path_from_text(rest[0])) : run_verify(path_from_text(rest[0]));
    }
    if (command == "unpack") {
        if (rest.size() != 2) return usage_failure("unpack takes a payload file and a folder");
        return run_unpack(path_from_text(rest[0]), path_from_text(rest[1]));
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
    const bool terminal = quillbox::pack::prepare_streams();
    const quillbox::Outcome<std::vector<std::string>> words = quillbox::pack::program_arguments(argc, argv);
    if (!words.ok()) return quillbox::pack::usage_failure(words.error->text);
    const std::vector<std::string_view> args(words.value.begin(), words.value.end());
    int status = quillbox::pack::run(args, terminal);
    // A listing cut short by a full disk or a closed pipe must not end in success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("quillbox-pack: cannot write to standard output");
        return status == 0 ? 1 : status;
    }
    return status;
}
