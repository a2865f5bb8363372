// Asks the shell for the local application-data folder, as every start must,
// then decodes every embedded stream whole into one buffer and writes it to the
// folder named by argv[1]: the least a cold start must do, since a target may be
// opened only once its entry has decoded whole. The buffer serves every entry
// and grows only for a larger one, so the run touches no more new memory than
// its largest entry needs. The plain sizes follow as arguments, in payload order.
#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>
#include <brotli/decode.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "payload_section.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    wchar_t* folder = nullptr;
    HRESULT found = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
    CoTaskMemFree(folder);
    if (found != S_OK) return 1;
    const uint8_t* payload = payload_section();
    if (payload == nullptr) return 4;
    const uint8_t* p = payload + 8;
    CreateDirectoryW(argv[1], nullptr);
    uint8_t* out = nullptr;
    size_t capacity = 0;
    for (int i = 2; i < argc; ++i) {
        uint32_t n = be32(p);
        std::string name(reinterpret_cast<const char*>(p + 4), n);
        uint32_t m = be32(p + 4 + n);
        const uint8_t* data = p + 8 + n;
        p = data + m + 32;

        size_t size = static_cast<size_t>(_wtoi64(argv[i]));
        if (out == nullptr || size > capacity) {
            std::free(out);  // nothing in it is needed any more: no copy
            capacity = size;
            out = static_cast<uint8_t*>(std::malloc(capacity + 1));
            if (out == nullptr) return 5;
        }
        if (BrotliDecoderDecompress(m, data, &size, out) != BROTLI_DECODER_RESULT_SUCCESS) return 3;
        std::wstring path = std::wstring(argv[1]) + L"\\";
        for (char c : name) path += static_cast<wchar_t>(c);  // the benchmark's names are ASCII
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE) {
            WriteFile(file, out, static_cast<DWORD>(size), &written, nullptr);
            CloseHandle(file);
        }
    }
    std::free(out);
    return 0;
}
