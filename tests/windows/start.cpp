// Starts a program with an exact command line and waits for it; its exit code
// becomes ours. --no-std-handles starts it with no standard handles at all,
// as a launch from the desktop does. --print-status ends our output with the
// line "start.exe: exit code 0x%08X": Wine hands only its low 8 bits to Linux.
//   start.exe [--no-std-handles] [--print-status] PROGRAM COMMAND_LINE
// A COMMAND_LINE of @FILE is read from FILE as UTF-16LE, so that it can hold
// what no Unix-side argument can carry (an unpaired surrogate).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    bool no_std_handles = argc > i && std::wcscmp(argv[i], L"--no-std-handles") == 0;
    if (no_std_handles) ++i;
    bool print_status = argc > i && std::wcscmp(argv[i], L"--print-status") == 0;
    if (print_status) ++i;
    if (argc - i != 2) {
        std::fputs("usage: start.exe [--no-std-handles] [--print-status] PROGRAM COMMAND_LINE\n", stderr);
        return 125;
    }
    std::wstring command_line = argv[i + 1];
    if (!command_line.empty() && command_line[0] == L'@') {
        HANDLE file =
            CreateFileW(command_line.c_str() + 1, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 124;
        std::wstring text(32768, L'\0');
        DWORD got = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &got, nullptr);
        CloseHandle(file);
        text.resize(got / sizeof(wchar_t));
        command_line = text;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    DWORD flags = 0;
    if (no_std_handles) {
        // Explicit NULL handles, not inherited, and no console for the child.
        startup.dwFlags = STARTF_USESTDHANDLES;
        flags = DETACHED_PROCESS;
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[i], command_line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "start.exe: CreateProcessW failed: %lu\n", GetLastError());
        return 126;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (print_status) std::printf("start.exe: exit code 0x%08lX\n", code);
    return static_cast<int>(code);
}
