// A folder of its own for each packer test, removed with everything in it.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillbox::testing {

struct TempDir {
    std::filesystem::path path;

    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillbox_packer_test.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// Writes `content` as the whole file, making its folders.
inline void write_file(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(content.data(), std::streamsize(content.size()));
}

}  // namespace quillbox::testing
