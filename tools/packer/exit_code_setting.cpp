// The exit-code setting as the packer writes, lists and verifies it.
#include "exit_code_setting.h"

#include <algorithm>
#include <functional>

#include "bin_reader/pe_section.h"

namespace quillbox::pack {
Outcome<ExitCodeMode> launcher_exit_code(Bytes image) {
    Outcome<ExitCodeMode> mode = read_exit_code_setting(image, ImageLayout::file);
    if (!mode.ok()) return failed<ExitCodeMode>(without_kind(*mode.error));
    return mode;
}

std::optional<ExitCodeMode> exit_code_mode_named(std::string_view name) {
    if (name == "app") return ExitCodeMode::app;
    if (name == "zero") return ExitCodeMode::zero;
    return std::nullopt;
}

std::string_view exit_code_mode_name(ExitCodeMode mode) { return mode == ExitCodeMode::app ? "app" : "zero"; }

bool reads_exit_code_setting(Bytes image) {
    // A built launcher's payload may hold any bytes, even another launcher: only
    // what lies before it is the launcher's own.
    const Outcome<Bytes> payload = find_section(image, ImageLayout::file, PAYLOAD_SECTION);
    if (payload.ok() && !payload.value.empty()) image = image.first(payload.value.data() - image.data());
    const std::string_view marker(EXIT_CODE_SUPPORT_MARKER);
    return std::search(image.begin(), image.end(), std::boyer_moore_horspool_searcher(marker.begin(), marker.end())) !=
           image.end();
}

Outcome<std::vector<uint8_t>> exit_code_section_for(Bytes stub, std::optional<ExitCodeMode> asked) {
    using Result = std::vector<uint8_t>;
    ExitCodeMode mode = asked.value_or(ExitCodeMode::zero);
    if (!asked) {
        const Outcome<ExitCodeMode> kept = launcher_exit_code(stub);
        if (!kept.ok()) return failed<Result>(*kept.error);
        mode = kept.value;
    }
    if (mode == ExitCodeMode::zero) return succeeded(Result{});
    if (!reads_exit_code_setting(stub)) {
        return failed<Result>(invalid_input(
            "the stub does not read the exit-code setting (it is older than --exit-code); use the stub that came "
            "with this packer, or build without --exit-code app"));
    }
    return succeeded(exit_code_setting_bytes(mode));
}

std::optional<Error> check_exit_code_setting(Bytes image) {
    const Outcome<ExitCodeMode> mode = launcher_exit_code(image);
    if (!mode.ok()) return mode.error;
    if (mode.value == ExitCodeMode::app && !reads_exit_code_setting(image)) {
        return invalid_input("the launcher is set to --exit-code app, but its code does not read the setting");
    }
    return std::nullopt;
}

}  // namespace quillbox::pack
