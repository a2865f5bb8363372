// The inputs of `pack` and `build`: collected, checked, and compressed with
// the cache and the progress line.
#include "packed_inputs.h"

#include "command_report.h"
#include "entry_cache.h"
#include "entry_names.h"
#include "file_system.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

std::optional<Error> output_problem(const fs::path& out) {
    const fs::path out_folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!is_folder(out_folder)) {
        return failure("cannot write " + quoted(out) + ": folder " + quoted(out_folder) + " does not exist");
    }
    if (is_folder(out)) return failure("cannot write " + quoted(out) + ": it is a folder");
    return std::nullopt;
}

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

std::string cache_counts(const PackedEntries& packed) {
    return " (" + std::to_string(packed.from_cache) + " from the cache, " +
           std::to_string(packed.entries.size() - packed.from_cache) + " compressed)";
}

}  // namespace quillbox::pack
