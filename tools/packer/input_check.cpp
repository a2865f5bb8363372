// Missing inputs named as missing (input_check.h).
#include "input_check.h"

#include "file_system.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;

// A path the system cannot inspect (no permission) is left to the command,
// whose own message carries the system's reason.
bool names_nothing(const fs::path& path) {
    const Outcome<FileFacts> facts = file_facts(path);
    return facts.ok() && facts.value.kind == FileKind::missing;
}

}  // namespace

std::optional<Error> missing_input(const CommandLine& line) {
    std::vector<fs::path> inputs = line.files;
    for (const std::optional<fs::path>& path : {line.input, line.stub, line.icon, line.version_from}) {
        if (path) inputs.push_back(*path);
    }
    for (const fs::path& path : inputs) {
        if (names_nothing(path)) return plain_error(quoted(path) + ": no such file or folder");
    }
    return std::nullopt;
}

}  // namespace quillbox::pack
