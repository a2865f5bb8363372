// The packer's commands over a parsed command line: `pack`, `list`, `verify`
// and `unpack` here, `build` in build_command.cpp, and the dispatch.
#include "commands.h"

#include "brotli_stream.h"
#include "build_command.h"
#include "command_report.h"
#include "entry_names.h"
#include "exit_code_setting.h"
#include "file_system.h"
#include "help_text.h"
#include "listing.h"
#include "loaded_payload.h"
#include "packed_inputs.h"
#include "signature_note.h"
#include "stub_headers.h"
#include "stub_image.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;

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
    if (is_windows_program(file)) {
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
    if (const Bytes file(payload.bytes.data(), payload.bytes.size()); is_windows_program(file)) {
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
