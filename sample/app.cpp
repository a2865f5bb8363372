// The sample application: shows what the launcher handed it.
#include <windows.h>

#include <cstdio>
#include <string>

extern "C" __declspec(dllimport) const char* quillbox_sample_greeting();

static std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

int wmain(int argc, wchar_t** argv) {
    std::printf("quillbox sample: %s\n", quillbox_sample_greeting());
    std::printf("arguments: %d\n", argc - 1);
    for (int i = 1; i < argc; ++i) std::printf("  [%d] %s\n", i, utf8(argv[i]).c_str());

    wchar_t value[1024];
    DWORD n = GetEnvironmentVariableW(L"QUILLBOX_APPNAME", value, 1024);
    std::printf("QUILLBOX_APPNAME: %s\n", n > 0 && n < 1024 ? utf8(value).c_str() : "(not set)");

    wchar_t path[MAX_PATH];
    if (GetCurrentDirectoryW(MAX_PATH, path)) std::printf("current directory: %s\n", utf8(path).c_str());
    if (GetModuleFileNameW(nullptr, path, MAX_PATH)) std::printf("running from: %s\n", utf8(path).c_str());
    return 0;
}
