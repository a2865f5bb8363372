// The stub's PE headers as the packer reads them before it edits the image:
// where the optional header, the data directories and the section table lie,
// the alignments and sizes the loader checks, and each section, every field
// checked against the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

inline constexpr uint32_t RESOURCE_DIRECTORY = 2;

// Offsets inside the optional header that PE32 and PE32+ share.
inline constexpr size_t OPT_SIZE_OF_INITIALIZED_DATA = 8;
inline constexpr size_t OPT_SECTION_ALIGNMENT = 32;
inline constexpr size_t OPT_FILE_ALIGNMENT = 36;
inline constexpr size_t OPT_SIZE_OF_IMAGE = 56;
inline constexpr size_t OPT_SIZE_OF_HEADERS = 60;
inline constexpr size_t OPT_CHECKSUM = 64;

// One section header: its name and where its data lies in the file and in memory.
struct Section {
    size_t header = 0;  // offset of its header in the file
    std::string name;
    uint64_t virtual_size = 0;
    uint64_t virtual_address = 0;
    uint64_t raw_size = 0;
    uint64_t raw_offset = 0;
};

// Where the headers the packer edits lie in the file, and what they say.
struct Headers {
    size_t optional = 0;     // offset of the optional header
    size_t directories = 0;  // offset of the data directories
    uint64_t directory_count = 0;
    size_t count_field = 0;
    size_t table = 0;
    uint64_t file_alignment = 0;
    uint64_t section_alignment = 0;
    uint64_t size_of_headers = 0;
    uint64_t size_of_image = 0;
    bool signed_image = false;  // a signature covers the bytes as they are
    std::vector<Section> sections;
};

// "the stub's header is inconsistent: " and why.
Error bad_stub(const std::string& why);

// The headers of `stub`, or why they are not those of a PE file the packer
// can place a section in.
Outcome<Headers> read_headers(Bytes stub);

// Whether `file` starts as a Windows program or library does (MZ): a built
// launcher rather than a payload file, a program rather than an .ico file.
inline bool is_windows_program(Bytes file) { return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z'; }

// Whether `file` starts as a Windows image (MZ, then the PE headers) whose
// security directory is empty: a program or DLL that carries no signature.
bool unsigned_windows_image(Bytes file);

}  // namespace quillbox::pack
