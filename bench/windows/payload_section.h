// The payload section that quillbox-pack build added to a limit program used as
// a stub. These programs only ever run on images the benchmark built, so the
// headers are taken as they are.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

inline const uint8_t* payload_section() {
    auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::memcmp(section->Name, ".qbpayld", 8) == 0) return base + section->VirtualAddress;
    }
    return nullptr;
}

inline uint32_t be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
