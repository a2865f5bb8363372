// The packer's help texts and version line (help_text.h).
#include "help_text.h"

#include <brotli/encode.h>

#ifndef QUILLBOX_VERSION
#error "QUILLBOX_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace quillbox::pack {
namespace {

constexpr char OVERVIEW[] =
    "usage: quillbox-pack COMMAND ARGUMENTS...\n"
    "       quillbox-pack help [COMMAND] | --help | --version\n"
    "\n"
    "build   writes a launcher: the stub with a payload packed from a folder, or with\n"
    "        a ready payload file\n"
    "pack    writes a payload file from a folder or from the files listed\n"
    "list    lists a payload's entries and a launcher's icon and version block\n"
    "        (--json: as one JSON document)\n"
    "verify  decompresses every entry and checks its digest and its name\n"
    "unpack  writes every entry's content under a folder\n"
    "\n"
    "'quillbox-pack COMMAND --help' or 'quillbox-pack help COMMAND' shows a command's\n"
    "arguments and options; --version shows the packer's and brotli's versions.\n"
    "\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 a usage mistake.\n";

constexpr char BUILD_HELP[] =
    "usage: quillbox-pack build (DIR | PAYLOAD) -o OUT.exe [--stub STUB] [--exe PATH] [--quality Q] [--window W]\n"
    "                           [--jobs N] [--cache DIR | --no-cache] [--cache-size MIB] [--no-verify] [--quiet]\n"
    "                           [--icon FILE.ico|PROGRAM] [--version-from PROGRAM] [--version A.B.C.D]\n"
    "                           [--version-string KEY=VALUE]... [--require-signed] [--exit-code app|zero]\n"
    "\n"
    "Writes the launcher OUT.exe: the stub with the payload packed from DIR, or a\n"
    "ready payload (verified first), in a section of its own.\n"
    "  --stub STUB      the payload-less launcher (default: quillbox-stub.exe beside\n"
    "                   this program)\n"
    "  --no-verify      embeds a ready payload as it is, damaged or not, names unchecked\n"
    "  --icon FILE.ico|PROGRAM  the launcher's icon: every image of FILE.ico, or the\n"
    "                   main icon of a Windows program or library (default: the stub's)\n"
    "  --version-from PROGRAM  copies a Windows program's version block: numbers,\n"
    "                   flags and every string table; the options below override it\n"
    "  --version A.B.C.D  file and product version, up to four numbers 0..65535\n"
    "  --version-string KEY=VALUE  a string of the version block, in US English/Unicode\n"
    "                   (040904B0): CompanyName, FileDescription, FileVersion,\n"
    "                   InternalName, LegalCopyright, OriginalFilename, ProductName,\n"
    "                   ProductVersion or any other key; FileVersion and ProductVersion\n"
    "                   default to --version. Without these, no version block\n"
    "  --exit-code app|zero  app: the launcher exits with the application's exit\n"
    "                   code; zero: always 0 (default: the stub's, zero for a plain stub)\n"
    "  --require-signed refuses a payload whose Windows programs (.exe, .dll) carry\n"
    "                   no signature, which is otherwise a note\n"
    "  --quiet          prints nothing but errors\n"
    "From a folder only:\n";

constexpr char PACK_HELP[] =
    "usage: quillbox-pack pack OUT (DIR | --files FILE...) [--exe PATH] [--quality Q] [--window W] [--jobs N]\n"
    "                          [--cache DIR | --no-cache] [--cache-size MIB] [--quiet]\n"
    "\n"
    "Writes the payload OUT from every file under DIR, or from the files listed.\n"
    "  --quiet          prints nothing but errors\n";

// The options `build` and `pack` share: how a folder becomes a payload.
constexpr char PACKING_OPTIONS[] =
    "  --exe PATH       launch path, an entry of the payload (default .\\quillbox.exe)\n"
    "  --quality Q      brotli quality 0..11 (default 11)\n"
    "  --window W       brotli window bits 10..24 (default 22)\n"
    "  --jobs N         files compressed at once (default: one per core)\n"
    "  --cache DIR      keeps compressed entries there and reuses them (default:\n"
    "                   quillbox-pack in $XDG_CACHE_HOME, ~/.cache or %LOCALAPPDATA%)\n"
    "  --no-cache       compresses every file and keeps nothing\n"
    "  --cache-size M   MiB the cache keeps, least recently used out first (default 1024)\n";

constexpr char LIST_HELP[] =
    "usage: quillbox-pack list (PAYLOAD | EXE) [--json]\n"
    "\n"
    "One line per entry: name, compressed size, plain size, digest; then the launch\n"
    "path, and for an EXE its exit code setting, icon sizes and version block.\n"
    "  --json           all of it as one JSON document\n";

constexpr char VERIFY_HELP[] =
    "usage: quillbox-pack verify (PAYLOAD | EXE) [--require-signed]\n"
    "\n"
    "Decompresses every entry, checks its digest and that Windows can hold its name\n"
    "inside the folder, and for an EXE its exit code setting: a \"bad\" line for each\n"
    "entry that fails, else one \"ok\" line.\n"
    "  --require-signed refuses a payload whose Windows programs (.exe, .dll) carry\n"
    "                   no signature, which is otherwise a note\n";

constexpr char UNPACK_HELP[] =
    "usage: quillbox-pack unpack (PAYLOAD | EXE) DIR\n"
    "\n"
    "Writes every entry's content under DIR, every name checked first.\n";

constexpr char NAME_RULES[] =
    "\n"
    "Names that leave the folder, that Windows cannot hold, or that Windows takes for\n"
    "one file are refused, and so is a launch path that names no entry.\n";

constexpr char EXE_NOTE[] = "\nA built launcher (EXE) is read through its payload section.\n";

}  // namespace

std::string version_line() {
    const uint32_t brotli = BrotliEncoderVersion();  // 0xMMMnnnppp: major, minor, patch
    return "quillbox-pack " QUILLBOX_VERSION " (brotli " + std::to_string(brotli >> 24) + "." +
           std::to_string((brotli >> 12) & 0xFFF) + "." + std::to_string(brotli & 0xFFF) + ")\n";
}

std::string help_text(Command topic) {
    switch (topic) {
        case Command::build: return std::string(BUILD_HELP) + PACKING_OPTIONS + NAME_RULES;
        case Command::pack: return std::string(PACK_HELP) + PACKING_OPTIONS + NAME_RULES;
        case Command::list: return std::string(LIST_HELP) + EXE_NOTE;
        case Command::verify: return std::string(VERIFY_HELP) + NAME_RULES + EXE_NOTE;
        case Command::unpack: return std::string(UNPACK_HELP) + NAME_RULES + EXE_NOTE;
        case Command::help:
        case Command::version: break;
    }
    return OVERVIEW;
}

std::string usage_hint(const std::vector<std::string_view>& args) {
    const std::optional<Command> command = args.empty() ? std::nullopt : command_named(args[0]);
    const std::string asked = command ? std::string(args[0]) + " --help" : "--help";
    return "Try 'quillbox-pack " + asked + "' for more information.\n";
}

}  // namespace quillbox::pack
