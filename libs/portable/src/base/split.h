// Splitting the launcher's own command line (the Windows packer splits its own
// by the same rules), and composing the child's, so that the child gets back
// every argument exactly as the launcher holds it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace quillbox {

// Splits a command line into its words, the first one by the program-name rules
// and the rest by the backslash and quote rules. An empty text yields one word:
// what `module_path` returns. Words stay UTF-16 so that an unpaired surrogate is
// only judged when the words are converted.
std::vector<std::u16string> split_command_line(std::u16string_view text, std::u16string (*module_path)());

// Split words as UTF-8, for the launcher and the packer alike; `unpaired` is
// the index of the first word that holds an unpaired surrogate, which each
// program reports in its own words.
struct Utf8Words {
    std::vector<std::string> words;
    std::optional<size_t> unpaired;
};
Utf8Words words_as_utf8(std::span<const std::u16string> words);

// Appends `arg` to `out` encoded so that the splitting rules give it back:
// quoted only when empty or holding a space or tab; fails on a NUL.
std::optional<Error> quote_arg(std::u16string& out, std::u16string_view arg);

// The launch path in double quotes (never escaped), then each argument after a
// space. The result carries no terminating NUL; c_str() provides it.
Outcome<std::u16string> build_command_line(std::u16string_view launch_path, const std::vector<std::string>& args);

}  // namespace quillbox
