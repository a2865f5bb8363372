// What the packer needs from the operating system: paths as UTF-8 text, the
// folder walk, whole-file reads, atomic replacement, its own location and its
// standard streams. file_system_posix.cpp and file_system_win32.cpp implement it;
// everything else in the packer is the same on both.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// A path as UTF-8 text, and back. Never through the narrow code page, which
// on Windows cannot spell every file name.
std::string path_text(const std::filesystem::path& path);
std::filesystem::path path_from_text(std::string_view text);

// The path in double quotes, for messages. Appended piece by piece:
// `"\"" + string` trips a false -Wrestrict in GCC 12.
inline std::string quoted(const std::filesystem::path& path) {
    std::string out = "\"";
    out += path_text(path);
    out += '"';
    return out;
}

// The arguments as UTF-8, or a word for why one cannot be.
Outcome<std::vector<std::string>> program_arguments(int argc, char** argv);

// Puts the standard streams in the state the packer writes them in (bytes
// unchanged into pipes and files); whether standard error is a terminal that
// takes the progress line's cursor controls.
bool prepare_streams();

// The running packer's own file.
std::optional<std::filesystem::path> own_program();

// Where the packer's lines go.
enum class Stream { output, error };

// UTF-8 text to a standard stream: as it is into pipes and files, as UTF-16
// onto a Windows console, which would show UTF-8 bytes in its code page.
void write_text(Stream stream, std::string_view text);

enum class FileKind { missing, file, folder, other };

// Which file a path reaches, whatever the path's spelling.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What a path names, links followed: kind, size (files) and identity.
struct FileFacts {
    FileKind kind = FileKind::missing;
    uint64_t size = 0;
    FileIdentity identity;
};

// The facts, or why they cannot be had; a path that names nothing is a missing
// kind, not a failure.
Outcome<FileFacts> file_facts(const std::filesystem::path& path);

inline bool is_folder(const std::filesystem::path& path) {
    const Outcome<FileFacts> facts = file_facts(path);
    return facts.ok() && facts.value.kind == FileKind::folder;
}

inline bool is_file(const std::filesystem::path& path) {
    const Outcome<FileFacts> facts = file_facts(path);
    return facts.ok() && facts.value.kind == FileKind::file;
}

// The folder and every missing folder above it.
std::optional<Error> create_folders(const std::filesystem::path& path);

// A regular file under a walked folder: its path elements below that folder
// (UTF-8) and where to read it.
struct FoundFile {
    std::vector<std::string> parts;
    std::filesystem::path source;
    uint64_t size = 0;  // at the walk; for progress only
};

// A walked folder's files, and the links to folders it did not enter.
struct FolderWalk {
    std::vector<FoundFile> files;
    std::vector<std::filesystem::path> skipped_links;
};

// Every regular file under `folder`, in no particular order. Links to folders
// are not entered but listed: a link can point back up the tree (an endless
// walk) or at files already packed, and the launcher can only recreate plain
// files. Other reparse points (cloud placeholders) are the folders they stand for.
Outcome<FolderWalk> walk_folder(const std::filesystem::path& folder);

// Where bytes go; an error stops the writer.
using ByteSink = std::function<std::optional<Error>(Bytes)>;

// The whole content of a file.
Outcome<std::vector<uint8_t>> read_whole_file(const std::filesystem::path& path);

// Why `target` cannot be written as a file: its last part names none (empty,
// "." or ".."). Checked first by write_file_atomically on both systems.
inline std::optional<Error> names_no_file(const std::filesystem::path& target) {
    const std::string base = path_text(target.filename());
    if (base.empty() || base == "." || base == "..") return invalid_input(quoted(target) + " names no file");
    return std::nullopt;
}

// Writes `target` through a temporary file in the same folder, named as the
// launcher names its own (temporary_name.h), that is renamed over it at the
// end: readers see the old file or the complete new one, and a failure leaves
// no temporary file and the old file untouched. On Windows the file is renamed
// through the handle it was written by and shared for reading only until then,
// so that a launcher sweeping the folder of leftovers cannot take it away. `durable` flushes
// the data to the disk before the rename, so that a crash cannot leave the name
// on lost data.
std::optional<Error> write_file_atomically(const std::filesystem::path& target,
                                           const std::function<std::optional<Error>(const ByteSink&)>& fill,
                                           bool durable = true);

// A plain file directly in a folder: its name (UTF-8), size and last write
// time in nanoseconds since 1970.
struct ListedFile {
    std::string name;
    uint64_t size = 0;
    int64_t modified = 0;
};

// The plain files directly in `folder` (links and sub-folders left out).
Outcome<std::vector<ListedFile>> list_files(const std::filesystem::path& folder);

// Deletes a file; one already gone is no failure.
std::optional<Error> remove_file(const std::filesystem::path& path);

// Sets a file's last write time to now.
std::optional<Error> touch_file(const std::filesystem::path& path);

// Where this user's programs keep caches: $XDG_CACHE_HOME or ~/.cache on
// Linux, the local application-data folder on Windows; nothing when the
// system names none.
std::optional<std::filesystem::path> user_cache_root();

// Marks a built launcher executable where the file system keeps such a mark.
void mark_executable(const std::filesystem::path& path);

}  // namespace quillbox::pack
