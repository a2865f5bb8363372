// The packer's side of the exit-code setting: the section `build` writes, kept
// or replaced, and what `list` shows and `verify` checks. Written only for
// `--exit-code app`: a launcher built without it is byte for byte what it was
// before the option existed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bin_reader/exit_code_setting.h"
#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// The option's values: "app" and "zero".
std::optional<ExitCodeMode> exit_code_mode_named(std::string_view name);
std::string_view exit_code_mode_name(ExitCodeMode mode);

// Whether the launcher code of `image` (its bytes before any payload) reads the setting.
bool reads_exit_code_setting(Bytes image);

// The setting's section for a build on `stub`: the mode asked for, else the
// one the stub (a launcher built earlier) carries. Empty for `zero`, which
// needs no section. Refused when the stub would not read it.
Outcome<std::vector<uint8_t>> exit_code_section_for(Bytes stub, std::optional<ExitCodeMode> asked);

// The setting a launcher carries: `zero` without the section, an error when it is damaged.
Outcome<ExitCodeMode> launcher_exit_code(Bytes image);

// verify: the setting is whole, and a launcher set to `app` reads it.
std::optional<Error> check_exit_code_setting(Bytes image);

}  // namespace quillbox::pack
