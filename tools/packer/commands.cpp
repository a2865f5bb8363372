#include "commands.h"

#include <algorithm>
#include <cstdio>

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"
#include "bin_reader/pe_section.h"
#include "brotli_stream.h"
#include "entry_cache.h"
#include "entry_names.h"
#include "listing.h"
#include "exit_code_setting.h"
#include "file_system.h"
#include "help_text.h"
#include "program_resources.h"
#include "progress.h"
#include "stub_image.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;

constexpr double MIB = 1024.0 * 1024.0;
constexpr char STUB_NAME[] = "quillbox-stub.exe";

Error failure(std::string text) { return plain_error(std::move(text)); }

// The reason after `context`, without its kind: the form the stub, icon and
// resource reports take ("\"stub.exe\": the stub is not a PE file: ...").
Error reason_in(const Error& reason, std::string context) {
    return without_kind(with_context(reason, std::move(context)));
}

// Figures only: the text is cut at the buffer's size.
void print(Stream stream, const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    write_text(stream, text);
}

std::vector<std::string_view> names_of(const std::vector<InputFile>& inputs) {
    std::vector<std::string_view> names;
    for (const InputFile& input : inputs) names.push_back(input.name);
    return names;
}

// A payload that lists itself among its inputs would grow with every run.
std::optional<Error> output_among_inputs(const fs::path& out, const std::vector<InputFile>& inputs) {
    const Outcome<FileFacts> target = file_facts(out);
    if (!target.ok() || target.value.kind != FileKind::file) return std::nullopt;
    for (const InputFile& input : inputs) {
        const Outcome<FileFacts> facts = file_facts(input.source);
        if (facts.ok() && facts.value.kind == FileKind::file && facts.value.identity == target.value.identity) {
            return failure("the output file " + quoted(out) + " is also an input (" + input.name + ")");
        }
    }
    return std::nullopt;
}

// Checked before compressing, which can take minutes.
std::optional<Error> output_problem(const fs::path& out) {
    const fs::path out_folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!is_folder(out_folder)) {
        return failure("cannot write " + quoted(out) + ": folder " + quoted(out_folder) + " does not exist");
    }
    if (is_folder(out)) return failure("cannot write " + quoted(out) + ": it is a folder");
    return std::nullopt;
}

// The files `pack` or `build` takes, their names and the launch path through the gate.
Outcome<std::vector<InputFile>> checked_inputs(const CommandLine& line) {
    using Result = std::vector<InputFile>;
    std::vector<fs::path> skipped_links;
    Outcome<Result> inputs = line.files_given ? collect_files(line.files) : collect_folder(*line.input, &skipped_links);
    if (!inputs.ok()) return inputs;
    for (const fs::path& link : skipped_links) {
        if (!line.quiet)
            write_text(Stream::error, "quillbox-pack: warning: link to a folder not entered: " + quoted(link) + "\n");
    }
    if (std::optional<Error> clash = output_among_inputs(line.out, inputs.value)) return failed<Result>(*clash);
    if (std::optional<Error> error = check_launch_path(line.exe, names_of(inputs.value))) return failed<Result>(*error);
    return inputs;
}

// The options with the cache folder filled in: the one given, else the
// platform's; nothing with --no-cache or where the system names no cache folder.
CompressOptions with_cache_folder(const CommandLine& line) {
    CompressOptions options = line.compress;
    if (!line.use_cache) {
        options.cache.reset();
    } else if (!options.cache) {
        if (const std::optional<fs::path> root = user_cache_root()) options.cache = *root / CACHE_FOLDER_NAME;
        if (!options.cache && !line.quiet)
            write_text(Stream::error,
                       "quillbox-pack: warning: no cache folder is known for this user (--cache DIR names one): "
                       "every file is compressed\n");
    }
    return options;
}

// The compressed entries of the folder or the files `pack` names.
Outcome<PackedEntries> packed_inputs(const CommandLine& line, bool terminal, Clock::time_point start) {
    using Result = PackedEntries;
    const Outcome<std::vector<InputFile>> inputs = checked_inputs(line);
    if (!inputs.ok()) return failed<Result>(*inputs.error);
    ProgressLine progress{!line.quiet && terminal, start, inputs.value.size(), 0, false};
    for (const InputFile& input : inputs.value) progress.total_bytes += input.size;
    Outcome<Result> packed = pack_entries(inputs.value, with_cache_folder(line),
                                          [&](const PackProgress& done) { show_progress(progress, done); });
    clear_progress(progress);
    if (!packed.ok()) return packed;
    if (packed.value.cache_problem && !line.quiet) {
        write_text(Stream::error, "quillbox-pack: warning: compressed entries are not kept for the next build: " +
                                      describe(*packed.value.cache_problem) + "\n");
    }
    return packed;
}

// " (40 from the cache, 4 compressed)"
std::string cache_counts(const PackedEntries& packed) {
    return " (" + std::to_string(packed.from_cache) + " from the cache, " +
           std::to_string(packed.entries.size() - packed.from_cache) + " compressed)";
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::optional<Error> run_pack(const CommandLine& line, bool terminal) {
    const Clock::time_point start = Clock::now();
    if (std::optional<Error> problem = output_problem(line.out)) return problem;
    const Outcome<PackedEntries> packed = packed_inputs(line, terminal, start);
    if (!packed.ok()) return packed.error;
    const std::vector<PackedEntry>& entries = packed.value.entries;

    uint64_t written = 0;
    if (std::optional<Error> error = write_file_atomically(line.out, [&](const ByteSink& sink) {
            return write_payload(entries, line.exe, [&](Bytes bytes) {
                written += bytes.size();
                return sink(bytes);
            });
        })) {
        return error;
    }

    uint64_t plain = 0;
    for (const PackedEntry& entry : entries) plain += entry.plain_size;
    const double seconds = seconds_since(start);
    if (!line.quiet) {
        write_text(Stream::error, "packed " + std::to_string(entries.size()) + " files" + cache_counts(packed.value));
        print(Stream::error, ": %.1f MiB in, %.1f MiB out, %.1f s, %.1f MiB/s\n", double(plain) / MIB,
              double(written) / MIB, seconds, seconds > 0 ? double(plain) / MIB / seconds : 0.0);
    }
    return std::nullopt;
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
std::optional<Error> read_payload_bytes(const fs::path& path, LoadedPayload& out) {
    Outcome<std::vector<uint8_t>> bytes = read_whole_file(path);
    if (!bytes.ok()) return bytes.error;
    out.bytes = std::move(bytes.value);
    out.payload = Bytes(out.bytes.data(), out.bytes.size());
    if (!is_image(out.payload)) return std::nullopt;
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

// Whether the entry decoded into `plain` and its digest matches.
std::optional<Error> check_entry_content(const BinEntry& entry, const Outcome<ChunkedBytes>& plain) {
    if (!plain.ok()) return plain.error;
    const std::string actual = md5_hex(plain.value.views());
    if (digest_matches(entry.md5, actual)) return std::nullopt;
    return failure("digest mismatch: stored " + printable(digest_text(entry.md5)) + ", content " + actual);
}

// A built launcher's icon sizes and version blocks, as a user checks what shipped.
Outcome<LauncherFacts> launcher_facts(const fs::path& path, Bytes image) {
    const Outcome<std::vector<Resource>> resources = image_resources(image);
    if (!resources.ok()) {
        return failed<LauncherFacts>(reason_in(*resources.error, "cannot read the resources of " + quoted(path)));
    }
    const Outcome<ExitCodeMode> exit_code = launcher_exit_code(image);
    if (!exit_code.ok()) return failed<LauncherFacts>(with_context(*exit_code.error, quoted(path)));
    LauncherFacts facts{exit_code.value, icon_sizes(resources.value), {}};
    for (const Resource& resource : resources.value) {
        if (resource.type.id != RT_VERSION || !resource.type.name.empty()) continue;
        Outcome<VersionInfo> info = read_version_block(Bytes(resource.data.data(), resource.data.size()));
        if (!info.ok()) return failed<LauncherFacts>(reason_in(*info.error, quoted(path)));
        facts.versions.push_back(std::move(info.value));
    }
    return succeeded(std::move(facts));
}

// The Windows programs among the payload's entries: checked by name, and by
// content, since systems that block unsigned code judge the unpacked files.
bool is_program_name(std::string_view name) {
    return ends_with_ignoring_ascii_case(name, std::string_view(".exe")) ||
           ends_with_ignoring_ascii_case(name, std::string_view(".dll"));
}

bool unsigned_program(const ChunkedBytes& plain) {
    return !plain.chunks.empty() && unsigned_windows_image(plain.chunks.front().view());
}

// Far past where any program's headers end.
constexpr size_t PROGRAM_HEADERS_LIMIT = 64 * 1024;

// A note naming the unsigned programs, or with --require-signed the failure.
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

// The unsigned programs among compressed entries, from the start of each program alone.
template <class Entries>
std::vector<std::string> unsigned_programs(const Entries& entries) {
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

std::optional<Error> run_list(const CommandLine& line) {
    LoadedPayload payload;
    if (std::optional<Error> error = load_payload(*line.input, payload)) return error;
    Listing listing{payload.reader, {}, std::nullopt};
    size_t damaged = 0;
    for (const BinEntry& entry : payload.reader.files) {
        const Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
        listing.plain_sizes.push_back(plain.ok() ? std::optional<uint64_t>(plain.value.size) : std::nullopt);
        if (!plain.ok()) {
            ++damaged;
            report_failure(with_context(*plain.error, entry_context(entry)));
        }
    }
    const Bytes file(payload.bytes.data(), payload.bytes.size());
    if (is_image(file)) {
        Outcome<LauncherFacts> facts = launcher_facts(*line.input, file);
        if (!facts.ok()) return facts.error;
        listing.launcher = std::move(facts.value);
    }
    write_text(Stream::output, line.json ? listing_json(listing) : listing_text(listing));
    if (damaged == 0) return std::nullopt;
    return failure(std::to_string(damaged) + " of " + std::to_string(payload.reader.files.size()) +
                   " entries do not decode");
}

// The name gate's and the digest check's refusals, one "bad" line each.
std::optional<Error> run_verify(const CommandLine& line) {
    LoadedPayload payload;
    if (std::optional<Error> error = load_payload(*line.input, payload)) return error;
    const std::vector<BinEntry>& files = payload.reader.files;
    std::vector<std::optional<Error>> problems(files.size());
    for (const NameProblem& problem : name_problems(names_of(payload.reader))) {
        problems[problem.entry] = invalid_input(problem.text);
    }
    size_t bad = 0;
    uint64_t plain_bytes = 0;
    std::vector<std::string> unsigned_names;
    for (size_t i = 0; i < files.size(); ++i) {
        const Outcome<ChunkedBytes> plain = decompress_stream(files[i].data);
        if (!problems[i]) problems[i] = check_entry_content(files[i], plain);
        if (!problems[i]) {
            plain_bytes += plain.value.size;
            if (is_program_name(files[i].name) && unsigned_program(plain.value))
                unsigned_names.push_back(files[i].name);
            continue;
        }
        ++bad;
        write_text(Stream::output, "bad\t" + printable(files[i].name) + "\t" + describe(*problems[i]) + "\n");
    }
    if (bad != 0) return failure(std::to_string(bad) + " of " + std::to_string(files.size()) + " entries are damaged");
    if (std::optional<Error> error = check_launch_path(payload.reader.exe, names_of(payload.reader))) return error;
    if (const Bytes file(payload.bytes.data(), payload.bytes.size()); is_image(file)) {
        if (std::optional<Error> error = check_exit_code_setting(file))
            return with_context(*error, quoted(*line.input));
    }
    if (std::optional<Error> error = report_unsigned(unsigned_names, line)) return error;
    print(Stream::output, "ok: %zu entries, %.1f MiB\n", files.size(), double(plain_bytes) / MIB);
    return std::nullopt;
}

std::optional<Error> write_entry(const BinEntry& entry, const fs::path& target) {
    const Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
    if (std::optional<Error> error = check_entry_content(entry, plain))
        return with_context(*error, entry_context(entry));
    if (std::optional<Error> error = create_folders(target.parent_path())) return error;
    // Written through a new file renamed into place, so an existing link at the
    // target is replaced rather than followed.
    return write_file_atomically(
        target,
        [&](const ByteSink& sink) {
            for (const ByteBuffer& chunk : plain.value.chunks) {
                if (std::optional<Error> failed = sink(chunk.view())) return failed;
            }
            return std::optional<Error>();
        },
        false);
}

std::optional<Error> run_unpack(const CommandLine& line) {
    LoadedPayload payload;
    if (std::optional<Error> error = load_payload(*line.input, payload)) return error;
    // Every name is checked before anything is written.
    if (std::optional<Error> error = check_names(names_of(payload.reader), payload.reader.exe)) return error;
    if (std::optional<Error> error = create_folders(line.out)) return error;
    for (const BinEntry& entry : payload.reader.files) {
        if (std::optional<Error> error = write_entry(entry, line.out / relative_unpack_path(entry.name))) return error;
    }
    return std::nullopt;
}

// The stub beside this program (the installed layout), else, in the build
// tree's own packer only, the one of the build tree it was built in: the
// shipped packer names no folder of the machine that built it.
std::optional<fs::path> default_stub() {
    if (const std::optional<fs::path> self = own_program(); self && is_file(self->parent_path() / STUB_NAME)) {
        return self->parent_path() / STUB_NAME;
    }
    if (const std::optional<fs::path> built = build_tree_stub(); built && is_file(*built)) return built;
    return std::nullopt;
}

struct LoadedStub {
    fs::path path;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> exit_setting;  // the exit-code section to write, empty for none
};

// Whether `stub` takes a payload with the resource `changes` and exit-code `setting`.
std::optional<Error> check_stub(const fs::path& path, Bytes stub, const ResourceChanges& changes, Bytes setting) {
    Outcome<StubLayout> check = place_payload(stub, 1, changes, setting);
    if (!check.ok()) return reason_in(*check.error, quoted(path));
    return std::nullopt;
}

// The stub; one that cannot take a payload is refused before any compressing.
Outcome<LoadedStub> load_stub(const CommandLine& line, const ResourceChanges& changes) {
    const std::optional<fs::path> path = line.stub ? line.stub : default_stub();
    if (!path) {
        return failed<LoadedStub>(
            failure(std::string("no ") + STUB_NAME + " beside this program; name one with --stub"));
    }
    Outcome<std::vector<uint8_t>> bytes = read_whole_file(*path);
    if (!bytes.ok()) return failed<LoadedStub>(*bytes.error);
    const Bytes stub(bytes.value.data(), bytes.value.size());
    // The stub's own checks come first, so that a file that is no stub is named
    // as such; then its exit-code setting, and room for the setting's section.
    if (std::optional<Error> error = check_stub(*path, stub, changes, {})) return failed<LoadedStub>(*error);
    Outcome<std::vector<uint8_t>> exit_setting = exit_code_section_for(stub, line.exit_code);
    if (!exit_setting.ok()) return failed<LoadedStub>(reason_in(*exit_setting.error, quoted(*path)));
    const Bytes setting(exit_setting.value.data(), exit_setting.value.size());
    if (!setting.empty()) {
        if (std::optional<Error> error = check_stub(*path, stub, changes, setting)) return failed<LoadedStub>(*error);
    }
    return succeeded(LoadedStub{*path, std::move(bytes.value), std::move(exit_setting.value)});
}

// Whether every entry decodes and matches its digest; the first that does not, with its name.
std::optional<Error> check_entries_content(const BinReader& reader) {
    for (const BinEntry& entry : reader.files) {
        if (std::optional<Error> error = check_entry_content(entry, decompress_stream(entry.data))) {
            return with_context(*error, entry_context(entry));
        }
    }
    return std::nullopt;
}

// The payload for `build` taken from a payload file or a built launcher: its
// names through the gate and its entries verified, unless the caller wants it
// embedded as it is.
std::optional<Error> ready_payload(const CommandLine& line, LoadedPayload& out) {
    if (line.exe_given || line.compress_given)
        return failure("--exe, --quality, --window and --jobs apply to a folder only");
    const fs::path& path = *line.input;
    if (!line.verify) return read_payload_bytes(path, out);
    if (std::optional<Error> error = load_payload(path, out)) {
        return with_context(*error, "the payload fails verification");
    }
    std::optional<Error> error = check_names(names_of(out.reader), out.reader.exe);
    if (!error) error = check_entries_content(out.reader);
    if (error) return with_context(*error, "the payload " + quoted(path) + " fails verification");
    return std::nullopt;
}

// Feeds the payload to the function it is given, once per pass, instead of
// holding it twice; stops at the first failure.
using FeedPayload = std::function<std::optional<Error>(const ByteSink&)>;

struct LauncherSize {
    uint64_t payload = 0;
    uint64_t total = 0;
};

// Writes the stub with the payload that `feed` produces.
Outcome<LauncherSize> write_launcher(const fs::path& out, const LoadedStub& stub, const ResourceChanges& changes,
                                     const FeedPayload& feed) {
    LauncherSize size;
    if (std::optional<Error> error = feed([&](Bytes bytes) -> std::optional<Error> {
            size.payload += bytes.size();
            return std::nullopt;
        })) {
        return failed<LauncherSize>(*error);
    }
    Outcome<StubLayout> layout = place_payload(Bytes(stub.bytes.data(), stub.bytes.size()), size.payload, changes,
                                               Bytes(stub.exit_setting.data(), stub.exit_setting.size()));
    if (!layout.ok()) return failed<LauncherSize>(reason_in(*layout.error, quoted(stub.path)));
    set_checksum(layout.value, [&](const auto& add) {
        feed([&](Bytes bytes) -> std::optional<Error> {
            add(bytes);
            return std::nullopt;
        });
    });
    const std::vector<uint8_t> padding(layout.value.padding, 0);
    std::optional<Error> error = write_file_atomically(out, [&](const ByteSink& sink) -> std::optional<Error> {
        if (std::optional<Error> failed = sink(Bytes(layout.value.head.data(), layout.value.head.size())))
            return failed;
        if (std::optional<Error> failed = feed(sink)) return failed;
        return sink(Bytes(padding.data(), padding.size()));
    });
    if (error) return failed<LauncherSize>(*error);
    size.total = layout.value.head.size() + size.payload + layout.value.padding;
    return succeeded(size);
}

// The icon and version block `build` was asked for, each checked before any compressing.
Outcome<ResourceChanges> requested_resources(const CommandLine& line) {
    ResourceChanges changes;
    if (line.icon) {
        const Outcome<std::vector<uint8_t>> bytes = read_whole_file(*line.icon);
        if (!bytes.ok()) return failed<ResourceChanges>(*bytes.error);
        const Bytes file(bytes.value.data(), bytes.value.size());
        Outcome<std::vector<IconImage>> images = is_windows_program(file) ? program_icon(file) : parse_ico(file);
        if (!images.ok()) {
            return failed<ResourceChanges>(
                reason_in(*images.error, "the icon " + quoted(*line.icon) + " cannot be used"));
        }
        changes.icon = std::move(images.value);
    }
    if (line.version || !line.version_strings.empty() || line.version_from) {
        VersionInfo base;
        if (line.version_from) {
            const Outcome<std::vector<uint8_t>> bytes = read_whole_file(*line.version_from);
            if (!bytes.ok()) return failed<ResourceChanges>(*bytes.error);
            Outcome<VersionInfo> copied = program_version(Bytes(bytes.value.data(), bytes.value.size()));
            if (!copied.ok()) {
                return failed<ResourceChanges>(
                    reason_in(*copied.error, "cannot copy the version block of " + quoted(*line.version_from)));
            }
            base = std::move(copied.value);
        }
        const VersionInfo info = with_version_options(std::move(base), line.version, line.version_strings);
        Outcome<std::vector<uint8_t>> block = version_block(info);
        if (!block.ok()) return failed<ResourceChanges>(*block.error);
        changes.version = std::move(block.value);
    }
    return succeeded(std::move(changes));
}

std::optional<Error> run_build(const CommandLine& line, bool terminal) {
    const Clock::time_point start = Clock::now();
    if (std::optional<Error> problem = output_problem(line.out)) return problem;
    const Outcome<ResourceChanges> changes = requested_resources(line);
    if (!changes.ok()) return changes.error;
    const Outcome<LoadedStub> stub = load_stub(line, changes.value);
    if (!stub.ok()) return stub.error;

    const bool from_folder = is_folder(*line.input);
    Outcome<PackedEntries> packed;
    LoadedPayload ready;
    if (from_folder) {
        packed = packed_inputs(line, terminal, start);
        if (!packed.ok()) return packed.error;
    } else if (std::optional<Error> problem = ready_payload(line, ready)) {
        return problem;
    }
    const std::vector<std::string> unsigned_names = from_folder   ? unsigned_programs(packed.value.entries)
                                                    : line.verify ? unsigned_programs(ready.reader.files)
                                                                  : std::vector<std::string>();
    if (std::optional<Error> error = report_unsigned(unsigned_names, line)) return error;
    const FeedPayload feed = [&](const ByteSink& sink) {
        return from_folder ? write_payload(packed.value.entries, line.exe, sink) : sink(ready.payload);
    };
    const Outcome<LauncherSize> size = write_launcher(line.out, stub.value, changes.value, feed);
    if (!size.ok()) return size.error;
    mark_executable(line.out);
    if (!line.quiet) {
        // The path apart from the figures: it can be longer than any fixed buffer.
        std::string built = "built ";
        built += path_text(line.out);
        write_text(Stream::error, built);
        print(Stream::error, ": %.1f MiB payload, %.1f MiB in all, %.1f s", double(size.value.payload) / MIB,
              double(size.value.total) / MIB, seconds_since(start));
        write_text(Stream::error, (from_folder ? cache_counts(packed.value) : std::string()) + "\n");
    }
    return std::nullopt;
}

}  // namespace

void report_failure(const Error& error) { write_text(Stream::error, "quillbox-pack: " + describe(error) + "\n"); }

std::optional<Error> run_command(const CommandLine& line, bool terminal) {
    switch (line.command) {
        case Command::pack: return run_pack(line, terminal);
        case Command::build: return run_build(line, terminal);
        case Command::list: return run_list(line);
        case Command::verify: return run_verify(line);
        case Command::unpack: return run_unpack(line);
        case Command::help: write_text(Stream::output, help_text(line.help_topic)); return std::nullopt;
        case Command::version: write_text(Stream::output, version_line()); return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quillbox::pack
