// Win32 side of bringing the per-user folder up to date, entry by entry; the
// decisions (what to skip, what to print) are in extract.h.
#include <memory>
#include <vector>

#include "bin_reader/app_dir.h"
#include "bin_reader/digest.h"
#include "bin_reader/extract.h"
#include "bin_reader/path.h"
#include "main/console.h"
#include "main/fatal.h"
#include "main/win32.h"

namespace quillbox {
namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::u16string fs_path(std::u16string_view path) { return file_system_path(path, full_path_name); }

// Follows links, as the existence test must: a dangling link counts as absent.
bool path_exists(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    UniqueHandle target(
        CreateFileW(wide(path), 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return target.valid();
}

bool is_folder(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates `path` and every missing folder above it; an existing folder is
// success. Climbs to the nearest folder that exists, then creates downwards,
// holding only the lengths of the missing prefixes.
bool create_folders(const std::u16string& path) {
    std::vector<size_t> missing;  // prefix lengths, deepest first
    for (size_t length = path.size(); length > 0;) {
        const std::u16string target = fs_path(path.substr(0, length));
        if (CreateDirectoryW(wide(target), nullptr)) break;
        if (GetLastError() != ERROR_PATH_NOT_FOUND) {
            if (!is_folder(target)) return false;
            break;
        }
        missing.push_back(length);
        std::optional<std::u16string> parent = holding_folder(std::u16string_view(path).substr(0, length));
        if (!parent) return false;
        length = parent->size();  // the holding folder is a prefix of the path
    }
    for (auto length = missing.rbegin(); length != missing.rend(); ++length) {
        const std::u16string target = fs_path(path.substr(0, *length));
        if (!CreateDirectoryW(wide(target), nullptr) && !is_folder(target)) return false;
    }
    return true;
}

// The digest text of the file at `path` (already in its file-system form), read
// into `block` piece by piece; a failure to open or read it is the result.
Outcome<std::string> md5_hex_of_file(const std::u16string& path, std::span<uint8_t> block) {
    UniqueHandle file(
        CreateFileW(wide(path), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failed<std::string>(last_error());
    return md5_hex_of_blocks(
        [&](std::span<uint8_t> into) {
            Outcome<size_t> out;
            DWORD got = 0;
            if (!ReadFile(file.get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr)) {
                return failed<size_t>(last_error());
            }
            out.value = got;
            return out;
        },
        block);
}

// Create-always and write everything; every failure is ignored by design, and a
// short file is repaired by the digest test of the next run.
void write_whole_file(const std::u16string& path, const ChunkedBytes& content) {
    UniqueHandle file(
        CreateFileW(wide(path), GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return;
    for (const ByteBuffer& chunk : content.chunks) {
        for (Bytes rest = chunk.view(); !rest.empty();) {
            DWORD written = 0;
            if (!WriteFile(file.get(), rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
                written == 0) {
                return;
            }
            rest = rest.subspan(written);
        }
    }
}

}  // namespace

void unpack_entry(std::u16string_view app_dir, const BinEntry& entry, std::span<uint8_t> digest_block,
                  SpareBlocks& spare) {
    const std::u16string target = path_join(app_dir, utf8_to_utf16(entry.name));

    if (std::optional<std::u16string> holder = holding_folder(target)) {
        if (!path_exists(fs_path(*holder))) create_folders(*holder);
    }

    const std::u16string on_file_system = fs_path(target);
    std::optional<std::string> on_disk;
    if (path_exists(on_file_system)) {
        Outcome<std::string> hashed = md5_hex_of_file(on_file_system, digest_block);
        if (!hashed.ok()) {
            fatal_stop("failed to read \"" + utf16_to_utf8_lossy(target) + "\": " + describe(*hashed.error));
        }
        on_disk = std::move(hashed.value);
    }
    EntryPlan plan = plan_entry(entry, target, on_disk);
    for (const std::string& line : plan.lines) print_line(Stream::out, line);
    if (plan.action == EntryAction::skip) return;

    ChunkedBytes content = entry.decompress(spare);
    write_whole_file(on_file_system, content);
    give_back(std::move(content), spare);
}

std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode) {
    std::optional<std::u16string> app_dir = find_app_dir();
    if (!app_dir) {
        print_line(Stream::err, "not found data local dir");
        return std::nullopt;
    }
    if (install_mode) remove_app_dir(*app_dir);
    // Allocated once: under Wine a fresh 256 KiB block per file cost about 0.5 ms
    // each, more than hashing a small file.
    const std::unique_ptr<uint8_t[]> digest_block(new uint8_t[DIGEST_BLOCK_SIZE]);
    const std::span<uint8_t> block(digest_block.get(), DIGEST_BLOCK_SIZE);
    // Likewise the decoded blocks: under Wine a cold start that decoded each
    // entry into fresh ones spent about 0.1 s on 31 MiB of new pages.
    SpareBlocks spare;
    for (const BinEntry& entry : reader.files) unpack_entry(*app_dir, entry, block, spare);
    return path_join(*app_dir, utf8_to_utf16(reader.exe));
}

}  // namespace quillbox
