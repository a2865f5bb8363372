// Win32 entry point; the start mode is decided in start_mode.h. The run sequence:
// split the command line, decide the start mode, validate the payload, bring the
// per-user folder up to date, start the application and wait.
#include "main/launch_win32.h"
#include "main/start_mode.h"

#include "bin_reader/bin_reader.h"
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
Bytes embedded_payload() {
    Outcome<Bytes> section = find_section(own_image(), ImageLayout::mapped, PAYLOAD_SECTION);
    if (!section.ok()) fatal_stop(*section.error);
    return section.value;
}

}  // namespace
}  // namespace quillbox

int main() {
    using namespace quillbox;
    restrict_dll_search();
    Invocation line = collect_args();
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
