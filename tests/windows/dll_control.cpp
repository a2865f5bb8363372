// The control for the DLL-planting test: loads each DLL named on its command
// line by name, with the default search order (its own folder first), as a
// program without the launcher's protection would.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        HMODULE module = LoadLibraryW(argv[i]);
        if (module != nullptr) FreeLibrary(module);
    }
    return 0;
}
