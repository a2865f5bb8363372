#include "bin_reader/exit_code_setting.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bin_reader/pe_builder.h"

namespace quillbox {
namespace {

using testing::PeBuilder;

std::vector<uint8_t> setting(ExitCodeMode mode) { return exit_code_setting_bytes(mode); }

std::vector<uint8_t> changed(std::vector<uint8_t> bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

// The launcher's view: its own image as mapped, the setting's section (when
// there is one) between .rdata and the payload, as the packer places it.
std::vector<uint8_t> mapped_launcher(const std::optional<std::vector<uint8_t>>& section, uint32_t virtual_size) {
    PeBuilder pe;
    uint32_t next = 0x3000;
    if (section) {
        pe.section(EXIT_CODE_SECTION, virtual_size, next, 0);
        std::copy(section->begin(), section->end(), pe.bytes.end() - 512);
        next += 0x1000;
    }
    pe.section(PAYLOAD_SECTION, 5, next, 'p');
    pe.set32(PeBuilder::OPT + 56, next + 0x1000);
    return pe.mapped();
}

TEST(ExitCodeSetting, ReadFromTheLaunchersOwnImage) {
    constexpr uint32_t CRASH = 0xC0000005;
    struct Case {
        const char* what;
        std::optional<std::vector<uint8_t>> section;  // none: no section at all
        std::optional<ExitCodeMode> mode;             // none: a damaged setting
        const char* error = "";
        std::optional<uint32_t> virtual_size = std::nullopt;  // default: the bytes' size
    };
    std::vector<uint8_t> long_one = setting(ExitCodeMode::app);
    long_one.push_back(0);
    const Case cases[] = {
        {"absent: the launcher exits 0 as before", std::nullopt, ExitCodeMode::zero},
        {"app", setting(ExitCodeMode::app), ExitCodeMode::app},
        {"zero written out", setting(ExitCodeMode::zero), ExitCodeMode::zero},
        {"cut short", setting(ExitCodeMode::app), std::nullopt, "exit-code setting: 11 bytes, not 12", 11},
        {"there, its size worn to 0: not taken for absent", setting(ExitCodeMode::app), std::nullopt,
         "exit-code setting: 0 bytes, not 12", 0},
        {"one byte more", long_one, std::nullopt, "exit-code setting: 13 bytes, not 12"},
        {"wrong magic", changed(setting(ExitCodeMode::app), 0, 'q'), std::nullopt, "exit-code setting: wrong magic"},
        {"later format", changed(setting(ExitCodeMode::app), 7, 2), std::nullopt, "exit-code setting: format 2, not 1"},
        {"unknown mode", changed(setting(ExitCodeMode::app), 11, 2), std::nullopt, "exit-code setting: unknown mode 2"},
        {"mode in the high byte", changed(setting(ExitCodeMode::zero), 8, 1), std::nullopt,
         "exit-code setting: unknown mode 16777216"},
        {"section past the image", setting(ExitCodeMode::app), std::nullopt, "image header: section .qbexit of",
         0x10000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> image =
            mapped_launcher(c.section, c.virtual_size.value_or(c.section ? c.section->size() : 0));
        const Outcome<ExitCodeMode> mode = read_exit_code_setting(Bytes(image), ImageLayout::mapped);
        if (!c.mode) {
            ASSERT_FALSE(mode.ok());
            EXPECT_EQ(mode.error->text().rfind(c.error, 0), 0u) << mode.error->text();
            continue;
        }
        ASSERT_TRUE(mode.ok()) << describe(*mode.error);
        EXPECT_EQ(mode.value, *c.mode);
        // What the launcher then exits with: every bit of the application's code, or 0.
        const bool app = *c.mode == ExitCodeMode::app;
        EXPECT_EQ(status_after_application(mode.value, CRASH), app ? CRASH : 0u);
        EXPECT_EQ(status_without_start(mode.value), app ? NOTHING_STARTED_STATUS : 0u);
    }
}

}  // namespace
}  // namespace quillbox
