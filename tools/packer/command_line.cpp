// Parsing the packer's command line into its record, and the words of its refusals.
#include "command_line.h"

#include <algorithm>
#include <charconv>

#include "exit_code_setting.h"
#include "file_system.h"
#include "version_block.h"

namespace quillbox::pack {
namespace {

using Result = Outcome<CommandLine>;

Result usage(std::string text) { return failed<CommandLine>(plain_error(std::move(text))); }

std::optional<int> parse_int(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

// "-x" and "--xyz", whether known or not, but not "-" alone; a file whose name
// starts with a dash is given as ./-name.
bool looks_like_option(std::string_view word) { return word.size() > 1 && word[0] == '-'; }

// The words after `pack` or `build`, one at a time.
struct Words {
    const std::vector<std::string_view>& args;
    size_t next = 0;

    bool done() const { return next >= args.size(); }
    std::string_view take() { return args[next++]; }
    std::optional<std::string_view> value() {
        if (done()) return std::nullopt;
        return take();
    }
};

std::optional<Error> take_number(Words& words, std::string_view option, int low, int high, int& target) {
    const std::optional<std::string_view> text = words.value();
    const std::optional<int> parsed = text ? parse_int(*text, low, high) : std::nullopt;
    if (!parsed) {
        return plain_error(std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high));
    }
    target = *parsed;
    return std::nullopt;
}

std::optional<Error> take_path(Words& words, const char* missing, std::optional<std::filesystem::path>& target) {
    const std::optional<std::string_view> text = words.value();
    if (!text) return plain_error(missing);
    target = path_from_text(*text);
    return std::nullopt;
}

// "1.2.3.4": one to four parts of at most 65535, the missing ones 0.
std::optional<Error> take_version(Words& words, std::optional<std::array<uint16_t, 4>>& target) {
    const std::optional<std::string_view> text = words.value();
    std::array<uint16_t, 4> parts{};
    bool good = text.has_value();
    std::string_view rest = text.value_or("");
    for (size_t count = 0; good; ++count) {
        const size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        const std::optional<int> value = parse_int(part, 0, 65535);
        good = count < parts.size() && value && part.find_first_not_of("0123456789") == std::string_view::npos;
        if (good) parts[count] = static_cast<uint16_t>(*value);
        if (dot == std::string_view::npos) break;
        rest = rest.substr(dot + 1);
    }
    if (!good) {
        std::string shown = text ? ", not \"" + std::string(*text) + "\"" : "";
        return plain_error("--version needs one to four numbers from 0 to 65535 with dots between" + shown);
    }
    target = parts;
    return std::nullopt;
}

// "Key=Value", once per key (keys compared ignoring ASCII case, as lookups do).
std::optional<Error> take_version_string(Words& words, std::vector<std::pair<std::string, std::string>>& target) {
    const std::optional<std::string_view> text = words.value();
    if (!text || text->find('=') == std::string_view::npos) return plain_error("--version-string needs KEY=VALUE");
    const std::string_view key = text->substr(0, text->find('='));
    const std::string_view value = text->substr(key.size() + 1);
    if (std::optional<Error> error = check_version_string(key, value)) {
        return without_kind(with_context(*error, "--version-string"));  // usage errors show no kind
    }
    auto same = [&](const auto& known) { return same_version_key(known.first, key); };
    if (std::any_of(target.begin(), target.end(), same)) {
        return plain_error("--version-string: " + std::string(key) + " is given twice");
    }
    target.emplace_back(key, value);
    return std::nullopt;
}

// What a word did: whether it was an option of `pack` or `build`, and the
// option's refusal of its value.
struct Taken {
    bool option = false;
    std::optional<Error> error;
};

// One option of `pack` or `build`, when `arg` is one of them.
Taken take_option(std::string_view arg, Words& words, bool build, CommandLine& out) {
    if (arg == "--files" && !build) {
        out.files_given = true;
    } else if (arg == "-o" && build) {
        std::optional<std::filesystem::path> path;
        if (std::optional<Error> error = take_path(words, "-o needs an output file", path)) return {true, error};
        out.out = *path;
    } else if (arg == "--stub" && build) {
        return {true, take_path(words, "--stub needs a file", out.stub)};
    } else if (arg == "--no-verify" && build) {
        out.verify = false;
    } else if (arg == "--no-cache") {
        out.use_cache = false;
    } else if (arg == "--cache") {
        return {true, take_path(words, "--cache needs a folder", out.compress.cache)};
    } else if (arg == "--cache-size") {
        int mib = 0;
        if (std::optional<Error> error = take_number(words, arg, 1, 1 << 24, mib)) return {true, error};
        out.compress.cache_limit = uint64_t(mib) << 20;
    } else if (arg == "--icon" && build) {
        return {true, take_path(words, "--icon needs an .ico file or a program", out.icon)};
    } else if (arg == "--version-from" && build) {
        return {true, take_path(words, "--version-from needs a program", out.version_from)};
    } else if (arg == "--version" && build) {
        return {true, take_version(words, out.version)};
    } else if (arg == "--version-string" && build) {
        return {true, take_version_string(words, out.version_strings)};
    } else if (arg == "--exit-code" && build) {
        const std::optional<std::string_view> text = words.value();
        out.exit_code = text ? exit_code_mode_named(*text) : std::nullopt;
        if (!out.exit_code) return {true, plain_error("--exit-code needs app or zero")};
    } else if (arg == "--require-signed" && build) {
        out.require_signed = true;
    } else if (arg == "--quiet") {
        out.quiet = true;
    } else if (arg == "--exe") {
        const std::optional<std::string_view> text = words.value();
        if (!text) return {true, plain_error("--exe needs a launch path")};
        out.exe = std::string(*text);
        out.exe_given = true;
        if (!is_valid_utf8(out.exe)) return {true, plain_error("--exe: the launch path is not valid UTF-8")};
    } else if (arg == "--quality" || arg == "--window" || arg == "--jobs") {
        out.compress_given = true;
        if (arg == "--quality") return {true, take_number(words, arg, 0, 11, out.compress.quality)};
        if (arg == "--window") return {true, take_number(words, arg, 10, 24, out.compress.window)};
        int jobs = 0;
        if (std::optional<Error> error = take_number(words, arg, 1, 1024, jobs)) return {true, error};
        out.compress.jobs = static_cast<unsigned>(jobs);
    } else {
        return {false, std::nullopt};
    }
    return {true, std::nullopt};
}

std::optional<Error> complete_pack(const CommandLine& line) {
    if (!line.use_cache && line.compress.cache) return plain_error("give either --cache or --no-cache, not both");
    if (line.command == Command::build) {
        if (!line.input) return plain_error("build needs a folder or a payload file");
        if (line.out.empty()) return plain_error("build needs an output file: -o OUT.exe");
        return std::nullopt;
    }
    if (line.files_given && line.input) return plain_error("give either a folder or --files, not both");
    if (line.files_given && line.files.empty()) return plain_error("--files needs at least one file");
    if (!line.files_given && !line.input) return plain_error("pack needs a folder or --files");
    return std::nullopt;
}

Result parse_pack(Command command, const std::vector<std::string_view>& args) {
    const bool build = command == Command::build;
    CommandLine line;
    line.command = command;
    Words words{args};
    if (!build) {
        if (words.done() || looks_like_option(args[0])) return usage("pack needs an output file first");
        line.out = path_from_text(words.take());
    }
    while (!words.done()) {
        const std::string_view arg = words.take();
        if (Taken taken = take_option(arg, words, build, line); taken.option) {
            if (taken.error) return failed<CommandLine>(*taken.error);
        } else if (looks_like_option(arg)) {
            return usage("unknown option " + std::string(arg));
        } else if (line.files_given) {
            line.files.push_back(path_from_text(arg));
        } else if (!line.input) {
            line.input = path_from_text(arg);
        } else {
            return usage(build ? "build takes one folder or payload file"
                               : "pack takes one folder; use --files to list files");
        }
    }
    if (std::optional<Error> error = complete_pack(line)) return failed<CommandLine>(*error);
    return succeeded(std::move(line));
}

bool is_help_word(std::string_view word) { return word == "--help" || word == "-h"; }

// `help`, `--help` or `-h`, with the command asked about if any.
Result parse_help(const std::vector<std::string_view>& rest) {
    CommandLine line;
    if (rest.size() > 1) return usage("help takes one command");
    if (!rest.empty()) {
        const std::optional<Command> topic = command_named(rest[0]);
        if (!topic) return usage("unknown command " + std::string(rest[0]));
        line.help_topic = *topic;
    }
    return succeeded(std::move(line));
}

// The first word of `list`, `verify` or `unpack` that looks like an option none of them takes.
std::optional<Error> unknown_option(const std::vector<std::string_view>& words) {
    for (std::string_view word : words) {
        if (looks_like_option(word)) return plain_error("unknown option " + std::string(word));
    }
    return std::nullopt;
}

}  // namespace

std::optional<Command> command_named(std::string_view word) {
    if (word == "build") return Command::build;
    if (word == "pack") return Command::pack;
    if (word == "list") return Command::list;
    if (word == "verify") return Command::verify;
    if (word == "unpack") return Command::unpack;
    return std::nullopt;
}

Outcome<CommandLine> parse_command_line(const std::vector<std::string_view>& args) {
    if (args.empty()) return usage("no command given");
    const std::string_view command = args[0];
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    if (is_help_word(command) || command == "help") return parse_help(rest);
    if (command == "--version" || command == "-V") {
        if (!rest.empty()) return usage(std::string(command) + " takes no arguments");
        CommandLine line;
        line.command = Command::version;
        return succeeded(std::move(line));
    }
    const std::optional<Command> named = command_named(command);
    if (!named) return usage("unknown command " + std::string(command));
    if (std::any_of(rest.begin(), rest.end(), is_help_word)) return parse_help({command});
    if (named == Command::pack || named == Command::build) return parse_pack(*named, rest);
    CommandLine line;
    line.command = *named;
    if (command == "list" || command == "verify") {
        std::vector<std::string_view> files = rest;
        if (command == "verify") {
            line.require_signed = std::erase(files, std::string_view("--require-signed")) != 0;
        } else {
            line.json = std::erase(files, std::string_view("--json")) != 0;
        }
        if (std::optional<Error> error = unknown_option(files)) return failed<CommandLine>(*error);
        if (files.size() != 1) return usage(std::string(command) + " takes one payload file");
        line.input = path_from_text(files[0]);
    } else {
        if (std::optional<Error> error = unknown_option(rest)) return failed<CommandLine>(*error);
        if (rest.size() != 2) return usage("unpack takes a payload file and a folder");
        line.input = path_from_text(rest[0]);
        line.out = path_from_text(rest[1]);
    }
    return succeeded(std::move(line));
}

}  // namespace quillbox::pack
