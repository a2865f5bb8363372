// Starts, asks the shell for the local application-data folder, and ends: the
// fixed price of the known-folder service (loading shell32 and what it needs),
// which every start pays, the limits included.
#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>

int wmain() {
    wchar_t* path = nullptr;
    HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
    CoTaskMemFree(path);
    return result == S_OK ? 0 : 1;
}
