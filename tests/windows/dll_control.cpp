// The control for the DLL-planting test: loads each DLL named on its command
// line by name, with the default search order (its own folder first), as a
// program without the launcher's protection would; after --system32, from
// system32 only, as the launcher does, so that only a manifest beside it can
// redirect the load.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    const bool system32_only = argc > 1 && lstrcmpW(argv[1], L"--system32") == 0;
    for (int i = system32_only ? 2 : 1; i < argc; ++i) {
        HMODULE module =
            system32_only ? LoadLibraryExW(argv[i], nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) : LoadLibraryW(argv[i]);
        if (module != nullptr) FreeLibrary(module);
    }
    return 0;
}
