// Win32 side of starting the application and waiting for it; the command line
// and environment it is given are decided in launch.h, split.h, environment.h.
#include <array>

#include "main/environment.h"
#include "main/launch.h"
#include "main/launch_win32.h"

#include "bin_reader/path.h"
#include "base/console_win32.h"
#include "base/fatal.h"
#include "base/split.h"
#include "base/text.h"
#include "base/win32.h"

namespace quillbox {
namespace {

bool file_exists(const std::u16string& path) { return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES; }

int compare_names(std::u16string_view a, std::u16string_view b) {
    const std::optional<int> result = compare_ordinal(a, b, true);
    if (!result) fatal_stop("comparing environment keys failed: " + text_with_code(last_error()));
    return *result;
}

std::vector<EnvEntry> inherited_environment() {
    EnvironmentStrings environment(GetEnvironmentStringsW());
    if (environment == nullptr) {
        fatal_stop("failure getting env string from OS: " + text_with_code(last_error()));
    }
    return parse_environment_block(reinterpret_cast<const char16_t*>(environment.get()));
}

// Inheritable copies of the launcher's standard handles; empty slots where it
// has none. The copies close when this goes out of scope, whatever happened.
struct StdHandleCopies {
    std::array<UniqueHandle, 3> slots;

    bool any() const { return slots[0].valid() || slots[1].valid() || slots[2].valid(); }
};

std::optional<Error> copy_std_handles(StdHandleCopies& copies) {
    const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        HANDLE own = GetStdHandle(ids[i]);
        if (!handle_present(own)) continue;
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
            return last_error();
        }
        copies.slots[i] = UniqueHandle(copy);
    }
    return std::nullopt;
}

// The started application's handles, owned from the moment CreateProcessW
// hands them over. Thread first, so that the process handle is closed first.
struct ChildProcess {
    UniqueHandle thread;
    UniqueHandle process;
};

// Starts the application. The command line and environment block are freed on
// return, as soon as the child has its own copies, not after the wait.
std::optional<Error> start_process(const std::u16string& launch_path, const std::vector<std::string>& launch_args,
                                   std::u16string_view app_file_name, ChildProcess& child) {
    Outcome<std::u16string> program = resolve_program(launch_path, file_exists, full_path_name);
    if (!program.ok()) return program.error;
    Outcome<std::u16string> command_line = build_command_line(launch_path, launch_args);
    if (!command_line.ok()) return command_line.error;
    Outcome<std::u16string> environment =
        build_environment_block(inherited_environment(), app_file_name, compare_names);
    if (!environment.ok()) return environment.error;

    StdHandleCopies copies;
    if (auto error = copy_std_handles(copies)) return error;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (copies.any()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = copies.slots[0].get();
        startup.hStdOutput = copies.slots[1].get();
        startup.hStdError = copies.slots[2].get();
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(wide(program.value), wide(command_line.value), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, environment.value.data(), nullptr, &startup, &started)) {
        return last_error();
    }
    child.thread.reset(started.hThread);
    child.process.reset(started.hProcess);
    return std::nullopt;
}

// The application's exit code once it has ended.
Outcome<uint32_t> start_and_wait(const std::u16string& launch_path, const std::vector<std::string>& launch_args,
                                 std::u16string_view app_file_name) {
    ChildProcess child;
    if (auto error = start_process(launch_path, launch_args, app_file_name, child)) return failed<uint32_t>(*error);
    if (WaitForSingleObject(child.process.get(), INFINITE) != WAIT_OBJECT_0) return failed<uint32_t>(last_error());
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(child.process.get(), &exit_code)) return failed<uint32_t>(last_error());
    return succeeded(uint32_t{exit_code});
}

}  // namespace

uint32_t launch_app(const std::u16string& launch_path, const std::vector<std::string>& launch_args) {
    print_line(LauncherStream::out, "executing " + utf16_to_utf8_lossy(launch_path));
    Outcome<std::u16string> own = own_module_path();
    if (!own.ok()) fatal_stop("cannot get the launcher's own path: " + describe(*own.error));
    const std::u16string& own_path = own.value;
    std::optional<std::u16string> app_file_name = file_name(own_path);
    if (!app_file_name) fatal_stop("the launcher's own path has no file name: " + utf16_to_utf8_lossy(own_path));
    const Outcome<uint32_t> exit_code = start_and_wait(launch_path, launch_args, *app_file_name);
    if (!exit_code.ok()) {
        fatal_stop("failed to execute " + quoted_name(utf16_to_utf8_lossy(*app_file_name)) + ": " +
                   describe(*exit_code.error));
    }
    return exit_code.value;
}

}  // namespace quillbox
