// quillbox-pack: builds the payload the launcher carries and the launcher
// around it, and lists, verifies and unpacks existing ones with the launcher's
// own reader. The command line is parsed in command_line.cpp, the commands run
// in commands.cpp; everything the packer asks of the system goes through
// file_system.h.
#include <cstdio>
#include <new>

#include "command_line.h"
#include "commands.h"
#include "file_system.h"
#include "help_text.h"
#include "input_check.h"

namespace quillbox::pack {
namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// The mistake, and where to read how the command is used.
int usage_failure(const Error& error, const std::vector<std::string_view>& args) {
    report_failure(error);
    write_text(Stream::error, usage_hint(args));
    return EXIT_USAGE;
}

int run(int argc, char** argv) {
    const bool terminal = prepare_streams();
    const Outcome<std::vector<std::string>> words = program_arguments(argc, argv);
    if (!words.ok()) return usage_failure(without_kind(*words.error), {});
    const std::vector<std::string_view> args(words.value.begin(), words.value.end());
    const Outcome<CommandLine> line = parse_command_line(args);
    if (!line.ok()) return usage_failure(*line.error, args);
    std::optional<Error> error = missing_input(line.value);
    try {
        if (!error) error = run_command(line.value, terminal);
    } catch (const std::bad_alloc&) {
        // Anywhere in a command (an input that asks for more than there is):
        // a clear failure, and the output's temporary file goes as it unwinds.
        error = out_of_memory_error("out of memory; nothing was written");
    }
    if (error) {
        report_failure(*error);
        return EXIT_FAILED;
    }
    return 0;
}

}  // namespace
}  // namespace quillbox::pack

int main(int argc, char** argv) {
    const int status = quillbox::pack::run(argc, argv);
    // A listing cut short by a full disk or a closed pipe must not end in success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("quillbox-pack: cannot write to standard output");
        return status == 0 ? 1 : status;
    }
    return status;
}
