// The run sequence: split the command line, decide the start mode, validate the
// payload, bring the per-user folder up to date, start the application and wait.
#include "bin_reader/bin_reader.h"
#include "bin_reader/extract.h"
#include "main/command_line.h"
#include "main/fatal.h"
#include "main/launch.h"
#include "main/start_mode.h"
#include "main/win32.h"

// Placed in .rdata by payload.S when the launcher is linked.
extern "C" const uint8_t quillbox_payload_begin[];
extern "C" const uint8_t quillbox_payload_end[];

namespace quillbox {
namespace {

// Only consulted for an empty command line; an empty text when it fails.
std::u16string module_path() { return own_module_path().value; }

CommandLine collect_args() {
    const wchar_t* text = GetCommandLineW();
    std::vector<std::u16string> words = split_command_line(text ? u16(text) : std::u16string_view(), module_path);
    Outcome<CommandLine> line = command_line_from_words(words);
    if (!line.ok()) fatal_stop(*line.error);
    return std::move(line.value);
}

Bytes embedded_payload() {
    return Bytes(quillbox_payload_begin, static_cast<size_t>(quillbox_payload_end - quillbox_payload_begin));
}

}  // namespace
}  // namespace quillbox

int main() {
    using namespace quillbox;
    restrict_dll_search();
    CommandLine line = collect_args();
    NameFlags flags = name_flags(line);
    std::optional<std::u16string> launch_path;
    {
        // The reader lives only until the launch path is formed.
        BinReader reader = BinReader::read(embedded_payload());
        launch_path = unpack_all(reader, install_mode(flags, line.user_args));
    }
    if (!launch_path) return 0;
    launch_app(*launch_path, choose_launch_args(flags, line.user_args));
    return 0;
}
