// The probe application: packed as the launcher's payload, it records what it
// received (command line, argv as the C runtime and as CommandLineToArgvW parse
// it, the environment block in order, current directory, standard handles, the
// DLLs its parent, the launcher, has loaded while it waits, the size and MD5
// of the files named in QUILLBOX_PROBE_FILES) to
// the file named by QUILLBOX_PROBE_RECORD, says one line on stdout and exits
// with the code in QUILLBOX_PROBE_EXIT (or crashes, or waits, when asked).
// Before it says it is ready it opens the files whose full paths
// QUILLBOX_PROBE_OPEN lists ('|' between), shared for reading only, and holds
// them until it exits: a running application's libraries, or a launcher's
// temporary file in flight.
#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

#include "json_writer.h"

static std::wstring env(const wchar_t* name) {
    wchar_t value[4096];
    DWORD n = GetEnvironmentVariableW(name, value, 4096);
    return n > 0 && n < 4096 ? std::wstring(value, n) : std::wstring();
}

static bool has_handle(DWORD id) {
    HANDLE h = GetStdHandle(id);
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

// The file names of the modules loaded in the process that started this one.
static std::vector<std::wstring> parent_modules() {
    std::vector<std::wstring> names;
    DWORD parent = 0;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(processes, &process); more; more = Process32NextW(processes, &process)) {
        if (process.th32ProcessID == GetCurrentProcessId()) parent = process.th32ParentProcessID;
    }
    CloseHandle(processes);
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, parent);
    if (modules == INVALID_HANDLE_VALUE) return names;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(modules, &module); more; more = Module32NextW(modules, &module)) {
        names.emplace_back(module.szModule);
    }
    CloseHandle(modules);
    return names;
}

// "<name> <size> <md5>" for each file named in `names` ('|' between them,
// relative to the probe's own folder), each read whole as an application reads
// its files at start; "<name> missing" for one that cannot be opened.
static std::vector<std::wstring> file_digests(const std::wstring& names) {
    std::vector<std::wstring> results;
    wchar_t own[32768];
    DWORD n = GetModuleFileNameW(nullptr, own, 32768);
    std::wstring folder(own, n);
    folder.resize(folder.rfind(L'\\') + 1);
    BCRYPT_ALG_HANDLE md5 = nullptr;
    if (BCryptOpenAlgorithmProvider(&md5, BCRYPT_MD5_ALGORITHM, nullptr, 0) != 0) ExitProcess(121);
    std::vector<unsigned char> block(1 << 20);
    for (size_t start = 0; start < names.size();) {
        size_t end = names.find(L'|', start);
        if (end == std::wstring::npos) end = names.size();
        const std::wstring name = names.substr(start, end - start);
        start = end + 1;
        HANDLE file =
            CreateFileW((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            results.push_back(name + L" missing");
            continue;
        }
        BCRYPT_HASH_HANDLE hash = nullptr;
        BCryptCreateHash(md5, &hash, nullptr, 0, nullptr, 0, 0);
        unsigned long long size = 0;
        DWORD got = 0;
        while (ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
            BCryptHashData(hash, block.data(), got, 0);
            size += got;
        }
        CloseHandle(file);
        unsigned char digest[16];
        BCryptFinishHash(hash, digest, sizeof digest, 0);
        BCryptDestroyHash(hash);
        wchar_t text[64];
        std::wstring hex;
        for (unsigned char byte : digest) {
            wsprintfW(text, L"%02x", byte);
            hex += text;
        }
        wsprintfW(text, L" %I64u ", size);
        results.push_back(name + text + hex);
    }
    BCryptCloseAlgorithmProvider(md5, 0);
    return results;
}

static void write_record(const std::wstring& path, int argc, wchar_t** argv) {
    std::string out = "{\"command_line\":";
    const wchar_t* line = GetCommandLineW();
    json_string(out, line, lstrlenW(line));

    std::vector<std::wstring> items(argv, argv + argc);
    out += ",\"argv\":";
    json_list(out, items);

    int shell_argc = 0;
    wchar_t** shell_argv = CommandLineToArgvW(line, &shell_argc);
    items.assign(shell_argv, shell_argv + shell_argc);
    LocalFree(shell_argv);
    out += ",\"shell_argv\":";
    json_list(out, items);

    items.clear();
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += lstrlenW(p) + 1) items.emplace_back(p);
    FreeEnvironmentStringsW(block);
    out += ",\"environment\":";
    json_list(out, items);
    // The first pair of neighbouring names that the system's own comparison
    // (CompareStringOrdinal ignoring case) does not find in strictly rising order.
    // Wine appends variables of its own to every new process's block (WINE...,
    // SystemDrive, SystemRoot), after what the parent passed: those are left out.
    auto added_by_wine = [](const std::wstring& name) {
        return name.compare(0, 4, L"WINE") == 0 || name == L"SystemDrive" || name == L"SystemRoot";
    };
    std::vector<std::wstring> names;
    for (const std::wstring& item : items) {
        std::wstring name = item.substr(0, item.find(L'=', 1));
        if (!added_by_wine(name)) names.push_back(name);
    }
    std::vector<std::wstring> unordered;
    for (size_t i = 1; i < names.size() && unordered.empty(); ++i) {
        if (CompareStringOrdinal(names[i - 1].c_str(), static_cast<int>(names[i - 1].size()), names[i].c_str(),
                                 static_cast<int>(names[i].size()), TRUE) != CSTR_LESS_THAN) {
            unordered = {names[i - 1], names[i]};
        }
    }
    out += ",\"environment_unordered\":";
    json_list(out, unordered);

    wchar_t buffer[32768];
    DWORD n = GetCurrentDirectoryW(32768, buffer);
    out += ",\"cwd\":";
    json_string(out, buffer, n);
    n = GetModuleFileNameW(nullptr, buffer, 32768);
    out += ",\"module\":";
    json_string(out, buffer, n);

    out += ",\"files\":";
    json_list(out, file_digests(env(L"QUILLBOX_PROBE_FILES")));

    out += ",\"parent_modules\":";
    json_list(out, parent_modules());

    out += ",\"stdin\":";
    out += has_handle(STD_INPUT_HANDLE) ? "true" : "false";
    out += ",\"stdout\":";
    out += has_handle(STD_OUTPUT_HANDLE) ? "true" : "false";
    out += ",\"stderr\":";
    out += has_handle(STD_ERROR_HANDLE) ? "true" : "false";
    out += "}\n";

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ExitProcess(120);
    DWORD written = 0;
    WriteFile(file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    CloseHandle(file);
}

// Opens each path of `paths` and leaves it open; the handles close at exit.
static void hold_files(const std::wstring& paths) {
    for (size_t start = 0; start < paths.size();) {
        size_t end = paths.find(L'|', start);
        if (end == std::wstring::npos) end = paths.size();
        const std::wstring path = paths.substr(start, end - start);
        start = end + 1;
        if (CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) ==
            INVALID_HANDLE_VALUE) {
            ExitProcess(122);
        }
    }
}

int wmain(int argc, wchar_t** argv) {
    std::wstring record = env(L"QUILLBOX_PROBE_RECORD");
    if (!record.empty()) write_record(record, argc, argv);

    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, "probe: running\n", 15, &written, nullptr);
    }

    hold_files(env(L"QUILLBOX_PROBE_OPEN"));
    std::wstring ready = env(L"QUILLBOX_PROBE_READY");
    if (!ready.empty()) CloseHandle(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    std::wstring hold = env(L"QUILLBOX_PROBE_HOLD");
    for (int i = 0; !hold.empty() && i < 3000 && GetFileAttributesW(hold.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(20);
    }

    if (!env(L"QUILLBOX_PROBE_CRASH").empty()) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    return _wtoi(env(L"QUILLBOX_PROBE_EXIT").c_str());
}
