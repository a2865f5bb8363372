// Starts the program named by its argument and waits for it: the cost of the
// launch alone.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::wstring line = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[1], line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr,
                        &startup, &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
