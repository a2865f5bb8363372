#include "command_line.h"

#include <algorithm>
#include <charconv>

#include "exit_code_setting.h"
#include "file_system.h"
#include "resources.h"

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
        return {true, take_path(words, "--icon needs an .ico file", out.icon)};
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
        if (words.done() || args[0].starts_with("--")) return usage("pack needs an output file first");
        line.out = path_from_text(words.take());
    }
    while (!words.done()) {
        const std::string_view arg = words.take();
        if (Taken taken = take_option(arg, words, build, line); taken.option) {
            if (taken.error) return failed<CommandLine>(*taken.error);
        } else if (arg.starts_with("--")) {
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

}  // namespace

const char USAGE[] =
    "usage: quillbox-pack build (DIR | PAYLOAD) -o OUT.exe [--stub STUB] [--exe PATH] [--quality Q] [--window W]\n"
    "                           [--jobs N] [--cache DIR | --no-cache] [--cache-size MIB] [--no-verify] [--quiet]\n"
    "                           [--icon FILE.ico] [--version A.B.C.D] [--version-string KEY=VALUE]...\n"
    "                           [--require-signed] [--exit-code app|zero]\n"
    "       quillbox-pack pack OUT (DIR | --files FILE...) [--exe PATH] [--quality Q] [--window W] [--jobs N]\n"
    "                          [--cache DIR | --no-cache] [--cache-size MIB] [--quiet]\n"
    "       quillbox-pack list (PAYLOAD | EXE)\n"
    "       quillbox-pack verify (PAYLOAD | EXE) [--require-signed]\n"
    "       quillbox-pack unpack (PAYLOAD | EXE) DIR\n"
    "\n"
    "build   writes the launcher OUT.exe: the stub with the payload packed from DIR,\n"
    "        or a ready payload (verified first), in a section of its own\n"
    "        --stub       the payload-less launcher (default: quillbox-stub.exe beside\n"
    "                     this program)\n"
    "        --no-verify  embeds a ready payload as it is, damaged or not, names unchecked\n"
    "        --icon       the launcher's icon: every image of FILE.ico (default: the stub's)\n"
    "        --version    file and product version, up to four numbers 0..65535 (1.2.3.4)\n"
    "        --version-string  a string of the version block, in US English/Unicode\n"
    "                     (040904B0): CompanyName, FileDescription, FileVersion,\n"
    "                     InternalName, LegalCopyright, OriginalFilename, ProductName,\n"
    "                     ProductVersion or any other key; FileVersion and ProductVersion\n"
    "                     default to --version. Without these, no version block\n"
    "        --exit-code  app: the launcher exits with the application's exit code;\n"
    "                     zero: always 0 (default: the stub's, zero for a plain stub)\n"
    "        --require-signed  refuses a payload whose Windows programs (.exe, .dll) carry\n"
    "                     no signature, which is otherwise a note (build and verify)\n"
    "pack    writes the payload OUT from every file under DIR, or from the files listed\n"
    "        --exe      launch path, an entry of the payload (default .\\quillbox.exe)\n"
    "        --quality  brotli quality 0..11 (default 11)\n"
    "        --window   brotli window bits 10..24 (default 22)\n"
    "        --jobs     files compressed at once (default: one per core)\n"
    "        --cache DIR     keeps compressed entries there and reuses them (default:\n"
    "                        quillbox-pack in $XDG_CACHE_HOME, ~/.cache or %LOCALAPPDATA%)\n"
    "        --no-cache      compresses every file and keeps nothing\n"
    "        --cache-size M  MiB the cache keeps, least recently used out first (default 1024)\n"
    "        --quiet    prints nothing but errors\n"
    "list    one line per entry: name, compressed size, plain size, digest; for an EXE also\n"
    "        its exit code setting, its icon's sizes and its version block\n"
    "verify  decompresses every entry, checks its digest and that Windows can hold its name\n"
    "        inside the folder; for an EXE also its exit code setting\n"
    "unpack  writes every entry's content under DIR\n"
    "Every command refuses names that leave the folder, that Windows cannot hold, or\n"
    "that Windows takes for one file, and a launch path that names no entry.\n"
    "A built launcher (EXE) is read through its payload section.\n";

Outcome<CommandLine> parse_command_line(const std::vector<std::string_view>& args) {
    if (args.empty()) return usage("no command given");
    const std::string_view command = args[0];
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    if (command == "pack") return parse_pack(Command::pack, rest);
    if (command == "build") return parse_pack(Command::build, rest);
    CommandLine line;
    if (command == "list" || command == "verify") {
        std::vector<std::string_view> files = rest;
        if (command == "verify") {
            line.require_signed = std::erase(files, std::string_view("--require-signed")) != 0;
        }
        if (files.size() != 1) return usage(std::string(command) + " takes one payload file");
        line.command = command == "list" ? Command::list : Command::verify;
        line.input = path_from_text(files[0]);
    } else if (command == "unpack") {
        if (rest.size() != 2) return usage("unpack takes a payload file and a folder");
        line.command = Command::unpack;
        line.input = path_from_text(rest[0]);
        line.out = path_from_text(rest[1]);
    } else if (command != "--help" && command != "-h" && command != "help") {
        return usage("unknown command " + std::string(command));
    }
    return succeeded(std::move(line));
}

}  // namespace quillbox::pack
