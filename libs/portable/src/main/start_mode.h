// How the launcher was started: the name tests, install mode and the arguments
// handed on to the application.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace quillbox {

// The launcher's own command line, as UTF-8 words.
struct Invocation {
    std::string invoked_as;              // first word, quotes removed
    std::vector<std::string> user_args;  // every later word, in order
};

struct NameFlags {
    bool install_by_name = false;
    bool quick_support_by_name = false;
};

// The split words (split.h) as UTF-8; fails on a word with an unpaired surrogate.
Outcome<Invocation> invocation_from_words(const std::vector<std::u16string>& words);

// The name tests apply only when there are no arguments.
NameFlags name_flags(const Invocation& line);

bool install_mode(const NameFlags& flags, const std::vector<std::string>& user_args);

std::vector<std::string> choose_launch_args(const NameFlags& flags, const std::vector<std::string>& user_args);

}  // namespace quillbox
