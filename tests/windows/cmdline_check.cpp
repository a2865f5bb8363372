// Checks the launcher's command-line composition against parsers nobody here
// wrote: CommandLineToArgvW for a large generated corpus, and the C runtime's
// argv (by starting this program as a child) for a part of it.
//   cmdline_check.exe CASES SPAWN_EVERY
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "base/split.h"
#include "base/text.h"

using Words = std::vector<std::u16string>;

static const wchar_t* as_wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

static std::u16string own_path() {
    wchar_t buffer[32768];
    DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), n);
}

static Words shell_split(const std::u16string& line) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(as_wide(line), &argc);
    Words words;
    for (int i = 0; i < argc; ++i) words.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    LocalFree(argv);
    return words;
}

// The child writes its argv, each word followed by a NUL, to the file named by
// QUILLBOX_CMDLINE_CHILD.
static int child_main(const wchar_t* record, int argc, wchar_t** argv) {
    HANDLE file = CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    for (int i = 0; i < argc; ++i) {
        DWORD written = 0;
        WriteFile(file, argv[i], static_cast<DWORD>((lstrlenW(argv[i]) + 1) * sizeof(wchar_t)), &written, nullptr);
    }
    CloseHandle(file);
    return 0;
}

static Words runtime_split(const std::u16string& self, std::u16string line, const std::u16string& record) {
    SetEnvironmentVariableW(L"QUILLBOX_CMDLINE_CHILD", as_wide(record));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    Words words;
    if (!CreateProcessW(as_wide(self), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return words;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    HANDLE file = CreateFileW(as_wide(record), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return words;
    std::u16string data(1 << 16, u'\0');
    DWORD got = 0;
    ReadFile(file, data.data(), static_cast<DWORD>(data.size() * 2), &got, nullptr);
    CloseHandle(file);
    data.resize(got / 2);
    for (size_t at = 0; at < data.size();) {
        size_t end = data.find(u'\0', at);
        words.push_back(data.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

static void show(const char* parser, const std::u16string& line) {
    std::printf("%s mismatch for: %s\n", parser, quillbox::utf16_to_utf8_lossy(line).c_str());
}

int wmain(int argc, wchar_t** argv) {
    wchar_t record[32768];
    if (GetEnvironmentVariableW(L"QUILLBOX_CMDLINE_CHILD", record, 32768)) {
        SetEnvironmentVariableW(L"QUILLBOX_CMDLINE_CHILD", nullptr);
        return child_main(record, argc, argv);
    }
    int cases = argc > 1 ? _wtoi(argv[1]) : 5000;
    int spawn_every = argc > 2 ? _wtoi(argv[2]) : 50;

    const std::u16string alphabet[] = {u"a",    u" ",      u"\t",         u"\"",  u"\\",
                                       u"\\\\", u"\u00e9", u"\U0001F600", u"--x", u"'"};
    std::mt19937 random(1208);
    const std::u16string self = own_path();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::u16string child_record = reinterpret_cast<const char16_t*>(temp);
    child_record += u"quillbox-cmdline-child.bin";

    int shell_failures = 0, runtime_failures = 0, spawned = 0;
    for (int n = 0; n < cases; ++n) {
        std::vector<std::string> args(random() % 5);
        Words expected{self};
        for (std::string& arg : args) {
            std::u16string text;
            for (unsigned k = random() % 7; k > 0; --k) text += alphabet[random() % std::size(alphabet)];
            arg = *quillbox::utf16_to_utf8(text);
            expected.push_back(text);
        }
        auto line = quillbox::build_command_line(self, args);
        if (!line.ok()) return 4;
        if (shell_split(line.value) != expected) {
            if (++shell_failures <= 5) show("CommandLineToArgvW", line.value);
        }
        if (n % spawn_every == 0) {
            ++spawned;
            Words got = runtime_split(self, line.value, child_record);
            // argv[0] is what the command line said, the quoted path.
            if (got != expected) {
                if (++runtime_failures <= 5) show("C runtime argv", line.value);
            }
        }
    }
    DeleteFileW(as_wide(child_record));
    std::printf("%d command lines: %d CommandLineToArgvW mismatches; %d started as children: %d C runtime mismatches\n",
                cases, shell_failures, spawned, runtime_failures);
    return shell_failures == 0 && runtime_failures == 0 && spawned > 0 ? 0 : 1;
}
