// A DLL to plant beside a program under a system DLL's name: when anything
// loads it, it appends the name it was loaded under to the file that
// QUILLBOX_PLANT_LOG names, then refuses to initialise.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t log[1024];
    wchar_t name[1024];
    DWORD log_length = GetEnvironmentVariableW(L"QUILLBOX_PLANT_LOG", log, 1024);
    DWORD name_length = GetModuleFileNameW(self, name, 1023);
    if (log_length == 0 || log_length >= 1024 || name_length == 0) return FALSE;
    name[name_length++] = L'\n';
    HANDLE file =
        CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, name, name_length * sizeof(wchar_t), &written, nullptr);
        CloseHandle(file);
    }
    return FALSE;
}
