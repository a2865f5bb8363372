// Reading and writing the exit-code setting's section.
#include "bin_reader/exit_code_setting.h"

#include <cstring>
#include <string>

namespace quillbox {
namespace {

Error damaged(const std::string& text) { return invalid_data("exit-code setting: " + text); }

// The mode a section's bytes hold: exactly as written, or an error, never a guess.
Outcome<ExitCodeMode> parse_exit_code_setting(Bytes section) {
    if (section.size() != EXIT_CODE_SETTING_SIZE) {
        return failed<ExitCodeMode>(
            damaged(std::to_string(section.size()) + " bytes, not " + std::to_string(EXIT_CODE_SETTING_SIZE)));
    }
    if (std::memcmp(section.data(), EXIT_CODE_MAGIC.data(), EXIT_CODE_MAGIC.size()) != 0) {
        return failed<ExitCodeMode>(damaged("wrong magic"));
    }
    const uint32_t format = read_u32be(section, 4);
    if (format != EXIT_CODE_FORMAT) {
        return failed<ExitCodeMode>(
            damaged("format " + std::to_string(format) + ", not " + std::to_string(EXIT_CODE_FORMAT)));
    }
    const uint32_t mode = read_u32be(section, 8);
    if (mode != uint32_t(ExitCodeMode::zero) && mode != uint32_t(ExitCodeMode::app)) {
        return failed<ExitCodeMode>(damaged("unknown mode " + std::to_string(mode)));
    }
    return succeeded(ExitCodeMode(mode));
}

}  // namespace

const char EXIT_CODE_SUPPORT_MARKER[] = "quillbox launcher: reads the .qbexit exit-code setting, format 1";

Outcome<ExitCodeMode> read_exit_code_setting(Bytes image, ImageLayout layout) {
    const Outcome<Bytes> section = find_section(image, layout, EXIT_CODE_SECTION);
    if (!section.ok()) return failed<ExitCodeMode>(*section.error);
    // No section is the default. One that is there with its size worn to
    // nothing still points into the image: damaged, not absent.
    if (section.value.data() == nullptr) return succeeded(ExitCodeMode::zero);
    return parse_exit_code_setting(section.value);
}

std::vector<uint8_t> exit_code_setting_bytes(ExitCodeMode mode) {
    std::vector<uint8_t> out(EXIT_CODE_MAGIC.begin(), EXIT_CODE_MAGIC.end());
    put_u32be(out, EXIT_CODE_FORMAT);
    put_u32be(out, uint32_t(mode));
    return out;
}

}  // namespace quillbox
