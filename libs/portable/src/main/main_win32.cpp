// Win32 entry point; the start mode is decided in start_mode.h. The run sequence:
// split the command line, decide the start mode, validate the payload, bring the
// per-user folder up to date, start the application and wait.
#include "main/launch_win32.h"
#include "main/start_mode.h"

#include "bin_reader/bin_reader.h"
#include "bin_reader/exit_code_setting.h"
#include "bin_reader/extract_win32.h"
#include "bin_reader/pe_section.h"
#include "base/fatal.h"
#include "base/split.h"
#include "base/win32.h"

namespace quillbox {
namespace {

Invocation collect_args() {
    const wchar_t* text = GetCommandLineW();
    std::vector<std::u16string> words =
        split_command_line(text ? u16(text) : std::u16string_view(), own_module_path_or_empty);
    Outcome<Invocation> line = invocation_from_words(words);
    if (!line.ok()) fatal_stop(*line.error);
    return std::move(line.value);
}

// The launcher's own mapped image: the pages of the allocation the loader made
// for it, walked in-process. (GetModuleInformation reads the loader's records
// through the cross-process memory path, which emulators get wrong.) The
// header's SizeOfImage is checked against this bound by find_section.
Bytes own_image() {
    const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    size_t size = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQuery(base + size, &region, sizeof region) == sizeof region && region.AllocationBase == base &&
           region.State == MEM_COMMIT) {
        size += region.RegionSize;
    }
    if (size == 0) fatal_stop(last_error());
    return Bytes(base, size);
}

// The payload section of the launcher's own image, which the loader mapped
// read-only. A launcher without the section gets an empty payload, which the
// reader refuses.
Bytes embedded_payload(Bytes image) {
    Outcome<Bytes> section = find_section(image, ImageLayout::mapped, PAYLOAD_SECTION);
    if (!section.ok()) fatal_stop(*section.error);
    return section.value;
}

// The exit-code setting of the launcher's own image; a damaged one stops the run
// like a damaged payload. The packer finds the marker in a stub to know that
// the stub reads the setting: handing its address to the (empty) asm keeps the
// linker from dropping it as unused.
ExitCodeMode embedded_exit_code_mode(Bytes image) {
    asm volatile("" : : "r"(EXIT_CODE_SUPPORT_MARKER));
    Outcome<ExitCodeMode> mode = read_exit_code_setting(image, ImageLayout::mapped);
    if (!mode.ok()) fatal_stop(*mode.error);
    return mode.value;
}

}  // namespace
}  // namespace quillbox

int main() {
    using namespace quillbox;
    restrict_dll_search();
    Invocation line = collect_args();
    NameFlags flags = name_flags(line);
    const Bytes image = own_image();
    std::optional<std::u16string> launch_path;
    ExitCodeMode exit_mode = ExitCodeMode::zero;
    {
        // The reader lives only until the launch path is formed.
        BinReader reader = BinReader::read(embedded_payload(image));
        exit_mode = embedded_exit_code_mode(image);
        launch_path = unpack_all(reader, install_mode(flags, line.user_args));
    }
    // The C runtime hands main's result to ExitProcess whole: all 32 bits reach the parent.
    if (!launch_path) return static_cast<int>(status_without_start(exit_mode));
    const uint32_t app_code = launch_app(*launch_path, choose_launch_args(flags, line.user_args));
    return static_cast<int>(status_after_application(exit_mode, app_code));
}
