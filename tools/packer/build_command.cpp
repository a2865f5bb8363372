// The `build` command: loading the stub, the resource options, the payload
// from a folder or a payload file, and writing the launcher.
#include "build_command.h"

#include <functional>

#include "command_report.h"
#include "entry_names.h"
#include "exit_code_setting.h"
#include "file_system.h"
#include "loaded_payload.h"
#include "packed_inputs.h"
#include "program_resources.h"
#include "signature_note.h"
#include "stub_image.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;

constexpr char STUB_NAME[] = "quillbox-stub.exe";

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

}  // namespace

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

}  // namespace quillbox::pack
