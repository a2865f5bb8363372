// The exit-code setting: a small section of its own that the packer writes into
// a launcher only when asked for `--exit-code app`. Absent, the launcher exits 0
// as it always has; present, it forwards the application's exit code. Kept out
// of the payload so that the payload's format and checks stay as they are.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "bin_reader/pe_section.h"

#include "base/bytes.h"
#include "base/error.h"

namespace quillbox {

inline constexpr std::string_view EXIT_CODE_SECTION = ".qbexit";

// The section's bytes: the magic, the format version and the mode, the two
// numbers unsigned 32-bit big-endian like the payload's; nothing else.
inline constexpr std::string_view EXIT_CODE_MAGIC = "QBEX";
inline constexpr uint32_t EXIT_CODE_FORMAT = 1;
inline constexpr size_t EXIT_CODE_SETTING_SIZE = 12;

enum class ExitCodeMode : uint32_t {
    zero = 0,  // exit 0 whatever happened (the default)
    app = 1,   // exit with the application's code
};

// Found by the packer in a stub's code and data: a launcher that carries these
// bytes reads the setting, so the packer may write one into it. A stub without
// them would ignore the section silently, which the packer refuses to do.
extern const char EXIT_CODE_SUPPORT_MARKER[];

// The status of a run that started nothing because the local application-data
// folder could not be found, under `app`: HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
// a value no ordinary exit code takes and tools show as "path not found".
inline constexpr uint32_t NOTHING_STARTED_STATUS = 0x80070003;

// The setting of an image, in either layout: `zero` when it has no such
// section; a section that is there but not exactly as written is an error.
Outcome<ExitCodeMode> read_exit_code_setting(Bytes image, ImageLayout layout);

// The section's bytes for `mode`, as the packer writes them.
std::vector<uint8_t> exit_code_setting_bytes(ExitCodeMode mode);

// The launcher's exit status once the application has ended with `app_code`.
inline uint32_t status_after_application(ExitCodeMode mode, uint32_t app_code) {
    return mode == ExitCodeMode::app ? app_code : 0;
}

// The launcher's exit status when it started nothing (no local application-data folder).
inline uint32_t status_without_start(ExitCodeMode mode) {
    return mode == ExitCodeMode::app ? NOTHING_STARTED_STATUS : 0;
}

}  // namespace quillbox
