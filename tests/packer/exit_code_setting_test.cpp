#include "exit_code_setting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "bin_reader/pe_builder.h"
#include "bin_reader/pe_section.h"
#include "packer/image_checks.h"

namespace quillbox::pack {
namespace {

using testing::build_image;
using testing::PeBuilder;

// A stub whose data carries the marker of a launcher that reads the setting, or not.
PeBuilder stub(bool marked) {
    PeBuilder pe;
    if (marked) std::memcpy(pe.bytes.data() + 1024 + 16, EXIT_CODE_SUPPORT_MARKER, strlen(EXIT_CODE_SUPPORT_MARKER));
    return pe;
}

Bytes bytes_of(const std::vector<uint8_t>& v) { return Bytes(v.data(), v.size()); }

// `stub` built into a launcher with the setting `build` works out for `asked`.
Outcome<std::vector<uint8_t>> built(Bytes stub_bytes, std::optional<ExitCodeMode> asked) {
    const Outcome<std::vector<uint8_t>> section = exit_code_section_for(stub_bytes, asked);
    if (!section.ok()) return section;
    return build_image(stub_bytes, view_of("payload"), {}, bytes_of(section.value));
}

TEST(ExitCodeSetting, BuildWritesKeepsOrReplacesItAndRefusesAStubThatWouldNotReadIt) {
    const PeBuilder plain = stub(true);
    const Outcome<std::vector<uint8_t>> plain_launcher = built(plain.view(), std::nullopt);
    const Outcome<std::vector<uint8_t>> app_launcher = built(plain.view(), ExitCodeMode::app);
    // What an older stub gives with no setting at all: the packer adds nothing to it.
    const PeBuilder older = stub(false);
    const Outcome<std::vector<uint8_t>> older_launcher = build_image(older.view(), view_of("payload"));
    ASSERT_TRUE(plain_launcher.ok() && app_launcher.ok() && older_launcher.ok());
    // The launcher to rebuild, damaged: its setting names a mode no launcher knows.
    std::vector<uint8_t> damaged = app_launcher.value;
    const Outcome<Bytes> section = find_section(bytes_of(damaged), ImageLayout::file, EXIT_CODE_SECTION);
    ASSERT_TRUE(section.ok() && section.value.size() == EXIT_CODE_SETTING_SIZE);
    damaged[section.value.data() - damaged.data() + 11] = 7;
    struct Case {
        const char* what;
        std::vector<uint8_t> stub;
        std::optional<ExitCodeMode> asked;
        std::optional<ExitCodeMode> want;  // none: refused with `error`
        const char* error = "";
    };
    const Case cases[] = {
        {"a stub, no option", plain.bytes, std::nullopt, ExitCodeMode::zero},
        {"a stub, zero", plain.bytes, ExitCodeMode::zero, ExitCodeMode::zero},
        {"a stub, app", plain.bytes, ExitCodeMode::app, ExitCodeMode::app},
        {"an older stub, app", older.bytes, ExitCodeMode::app, std::nullopt,
         "the stub does not read the exit-code setting (it is older than --exit-code)"},
        {"an older stub, zero", older.bytes, ExitCodeMode::zero, ExitCodeMode::zero},
        {"an app launcher, no option: kept", app_launcher.value, std::nullopt, ExitCodeMode::app},
        {"an app launcher, zero: replaced", app_launcher.value, ExitCodeMode::zero, ExitCodeMode::zero},
        {"a plain launcher, app: replaced", plain_launcher.value, ExitCodeMode::app, ExitCodeMode::app},
        {"a damaged setting, no option", damaged, std::nullopt, std::nullopt, "exit-code setting: unknown mode 7"},
        {"a damaged setting, replaced", damaged, ExitCodeMode::zero, ExitCodeMode::zero},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome<std::vector<uint8_t>> out = built(bytes_of(c.stub), c.asked);
        if (!c.want) {
            ASSERT_FALSE(out.ok());
            EXPECT_NE(out.error->text().find(c.error), std::string::npos) << out.error->text();
            continue;
        }
        ASSERT_TRUE(out.ok()) << describe(*out.error);
        // Whatever the input carried, the result is what building on the stub
        // itself gives: nothing added for zero, the same bytes for app.
        const std::vector<uint8_t>& want = c.stub == older.bytes          ? older_launcher.value
                                           : *c.want == ExitCodeMode::app ? app_launcher.value
                                                                          : plain_launcher.value;
        EXPECT_EQ(out.value, want);
    }
    // The plain launcher has exactly the stub's sections plus the payload; the
    // app launcher one more, which the readers find and the loader accepts.
    EXPECT_EQ(testing::image_u16(plain_launcher.value, PeBuilder::NT + 6), 3u);
    EXPECT_EQ(testing::image_u16(app_launcher.value, PeBuilder::NT + 6), 4u);
    EXPECT_EQ(testing::loader_layout_problem(app_launcher.value), std::nullopt);
    EXPECT_EQ(launcher_exit_code(bytes_of(app_launcher.value)).value, ExitCodeMode::app);
    EXPECT_EQ(launcher_exit_code(bytes_of(plain_launcher.value)).value, ExitCodeMode::zero);
    EXPECT_FALSE(check_exit_code_setting(bytes_of(app_launcher.value)).has_value());
    EXPECT_FALSE(launcher_exit_code(bytes_of(damaged)).ok());
    // verify: an app setting in a launcher whose code does not read it would be ignored.
    std::vector<uint8_t> unread = app_launcher.value;
    unread[1024 + 16] ^= 1;
    const std::optional<Error> ignored = check_exit_code_setting(bytes_of(unread));
    ASSERT_TRUE(ignored.has_value());
    EXPECT_NE(ignored->text().find("its code does not read the setting"), std::string::npos);
}

}  // namespace
}  // namespace quillbox::pack
