// Reads a built launcher's icon and version block through Windows' own API,
// for the end-to-end tests to compare with what the packer was given:
//   resource_check FILE KEY...
// prints "version FILE PRODUCT" (the fixed parts), "translation LANG CODEPAGE",
// "string KEY=VALUE" for each KEY (UTF-8), then for each image of the icon
// group QUILLBOX_ICON "image WIDTHxHEIGHT BITS SIZE FNV1A64" with the hash of
// the bytes FindResource gives, and "loaded SIZE ID" once LoadImage has made
// an icon of that size by name and LookupIconIdFromDirectoryEx picked the id.
// Exits 1 when a call fails, naming it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int fail(const char* call) {
    std::printf("failed %s: error %lu\n", call, GetLastError());
    return 1;
}

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

uint64_t fnv1a(const uint8_t* data, size_t size) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001B3ull;
    return hash;
}

struct Module {
    HMODULE handle = nullptr;
    ~Module() {
        if (handle) FreeLibrary(handle);
    }
};

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bits;
    DWORD size;
    WORD id;
};
#pragma pack(pop)

int print_version(const wchar_t* file, int count, wchar_t** keys) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) return fail("GetFileVersionInfoSizeW");
    std::vector<uint8_t> block(size);
    if (!GetFileVersionInfoW(file, 0, size, block.data())) return fail("GetFileVersionInfoW");
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        return fail("VerQueryValueW \\");
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    std::printf("version %u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
                LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                LOWORD(fixed->dwProductVersionLS));
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) {
        return fail("VerQueryValueW Translation");
    }
    const auto* translation = static_cast<const WORD*>(value);
    std::printf("translation %04x %04x\n", translation[0], translation[1]);
    for (int i = 0; i < count; ++i) {
        wchar_t path[256];
        swprintf(path, 256, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], keys[i]);
        if (!VerQueryValueW(block.data(), path, &value, &length)) return fail("VerQueryValueW string");
        std::printf("string %s=%s\n", utf8(keys[i]).c_str(), utf8(static_cast<const wchar_t*>(value)).c_str());
    }
    return 0;
}

int print_icon(const wchar_t* file) {
    Module module;
    module.handle = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module.handle) return fail("LoadLibraryExW");
    HRSRC found = FindResourceW(module.handle, L"QUILLBOX_ICON", MAKEINTRESOURCEW(14));
    if (!found) return fail("FindResourceW QUILLBOX_ICON");
    auto* group = static_cast<BYTE*>(LockResource(LoadResource(module.handle, found)));
    if (!group) return fail("LoadResource group");
    const WORD count = reinterpret_cast<const WORD*>(group)[2];
    const auto* entries = reinterpret_cast<const GroupEntry*>(group + 6);
    for (WORD i = 0; i < count; ++i) {
        HRSRC image = FindResourceW(module.handle, MAKEINTRESOURCEW(entries[i].id), MAKEINTRESOURCEW(3));
        if (!image) return fail("FindResourceW icon");
        const DWORD size = SizeofResource(module.handle, image);
        const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module.handle, image)));
        if (!bytes) return fail("LoadResource icon");
        const unsigned width = entries[i].width ? entries[i].width : 256;
        const unsigned height = entries[i].height ? entries[i].height : 256;
        std::printf("image %ux%u %u %lu %016llx\n", width, height, entries[i].bits, size,
                    static_cast<unsigned long long>(fnv1a(bytes, size)));
    }
    for (WORD i = 0; i < count; ++i) {
        const int side = entries[i].width ? entries[i].width : 256;
        HICON icon = static_cast<HICON>(LoadImageW(module.handle, L"QUILLBOX_ICON", IMAGE_ICON, side, side, 0));
        if (!icon) return fail("LoadImageW");
        DestroyIcon(icon);
        const int id = LookupIconIdFromDirectoryEx(group, TRUE, side, side, 0);
        std::printf("loaded %d %d\n", side, id);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::printf("usage: resource_check FILE KEY...\n");
        return 2;
    }
    if (int status = print_version(argv[1], argc - 2, argv + 2)) return status;
    return print_icon(argv[1]);
}
