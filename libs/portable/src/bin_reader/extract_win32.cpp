// Win32 side of bringing the per-user folder up to date, entry by entry
// (extract_win32.h); the decisions (what to skip, what to print) are in extract.h.
#include <algorithm>
#include <memory>
#include <vector>

#include "bin_reader/app_dir_win32.h"
#include "bin_reader/digest.h"
#include "bin_reader/extract.h"
#include "bin_reader/extract_win32.h"
#include "bin_reader/folders_win32.h"
#include "bin_reader/path.h"
#include "bin_reader/replace_win32.h"

#include "base/console_win32.h"
#include "base/fatal.h"
#include "base/win32.h"

namespace quillbox {
namespace {

// What the entries of one run share: the block a present file is read into to
// be hashed, the decoded blocks each entry hands back for the next, the last
// folder known to exist (under Wine every lookup of a path walks its folders,
// so a flat payload asks once, not once per file), the folders already swept
// of leftovers, and what the run may still wait for files in use.
struct UnpackRun {
    std::span<uint8_t> digest_block;
    SpareBlocks spare{};
    std::u16string known_folder{};
    std::span<const BinEntry> entries;
    std::vector<std::u16string> swept_folders{};
    WaitBudget waits;
};

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

// The digest text of the file at `path` (already in its file-system form), read
// into `block` piece by piece, or nothing where there is no file (a dangling
// link counts as none). The file is opened straight away rather than looked up
// first: on a cold start every target is missing, and each lookup costs a walk
// of the path under Wine. A file that is there but cannot be opened or read is
// a fatal stop, as is an open that fails for another reason where something is
// found at the path.
std::optional<std::string> md5_hex_on_disk(const std::u16string& path, std::span<uint8_t> block,
                                           std::u16string_view target) {
    auto cannot_read = [&](const Error& error) {
        fatal_stop("failed to read \"" + utf16_to_utf8_lossy(target) + "\": " + describe(error));
    };
    UniqueHandle file(
        CreateFileW(wide(path), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || !path_exists(path)) return std::nullopt;
        cannot_read(win32_error(code));
    }
    Outcome<std::string> hashed = md5_hex_of_blocks(
        [&](std::span<uint8_t> into) {
            DWORD got = 0;
            if (!ReadFile(file.get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr)) {
                return failed<size_t>(last_error());
            }
            return succeeded(static_cast<size_t>(got));
        },
        block);
    if (!hashed.ok()) cannot_read(*hashed.error);
    return std::move(hashed.value);
}

// Makes the folder holding `target` unless it is the one last known to exist.
// One the run makes itself holds no leftovers: it counts as swept, and a cold
// start lists no folder.
void make_holding_folder(const std::u16string& target, UnpackRun& run) {
    std::optional<std::u16string> holder = holding_folder(target);
    if (!holder || *holder == run.known_folder) return;
    if (path_exists(fs_path(*holder))) {
        run.known_folder = std::move(*holder);
        return;
    }
    // A folder that cannot be made is passed over: writing the file into it
    // fails next, and is ignored like any failed write.
    const FoldersMade made = create_folders(*holder, fs_path);
    if (made.created) run.swept_folders.push_back(*holder);
    if (made.error == 0) run.known_folder = std::move(*holder);
}

// Writes the content under a temporary name beside the target and moves it
// over the target in one step through the handle it was written by, so that
// whoever opens the target (the application, another launcher) finds the old
// file or the new one, whole. Every failure is ignored by design and leaves no
// temporary file; a target that cannot be replaced (in use, read-only) keeps
// its content, and the digest test of a later run writes it again. The waits
// for held targets come from the run's one budget. The run's first write into
// a folder first removes what killed starts left there.
void write_whole_file(const std::u16string& target, const std::u16string& on_file_system, const ChunkedBytes& content,
                      UnpackRun& run) {
    const std::optional<std::u16string> folder = holding_folder(target);
    if (!folder) return;
    if (std::find(run.swept_folders.begin(), run.swept_folders.end(), *folder) == run.swept_folders.end()) {
        remove_leftovers(*folder, [&](std::u16string_view name) { return is_leftover(name, run.entries); });
        run.swept_folders.push_back(*folder);
    }
    TemporaryFile temp;
    if (create_temporary_file([&](std::u16string_view name) { return fs_path(path_join(*folder, name)); }, temp) != 0)
        return;
    for (const ByteBuffer& chunk : content.chunks) {
        const Bytes bytes = chunk.view();
        if (write_handle(temp.file.get(), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
            return;  // the temporary file goes with `temp`
    }
    replace_with(temp, on_file_system, run.waits);
}

// Makes one entry's file current; ignores failures to create folders, write or
// move the new file over the target (which then stays as it was, and no
// temporary file is left); a present file that cannot be read is a fatal stop.
void unpack_entry(std::u16string_view app_dir, const BinEntry& entry, UnpackRun& run) {
    const std::u16string target = path_join(app_dir, utf8_to_utf16(entry.name));
    const std::u16string on_file_system = fs_path(target);
    const std::optional<std::string> on_disk = md5_hex_on_disk(on_file_system, run.digest_block, target);
    EntryPlan plan = plan_entry(entry, target, on_disk);
    for (const std::string& line : plan.lines) print_line(LauncherStream::out, line);
    if (plan.action == EntryAction::skip) return;

    if (!on_disk) {
        make_holding_folder(target, run);
    } else if (!replaceable_after_waiting(on_file_system, run.waits)) {
        return;  // held past the budget, read-only or not the user's: not worth decoding
    }
    ChunkedBytes content = entry.decompress(run.spare);
    write_whole_file(target, on_file_system, content, run);
    give_back(std::move(content), run.spare);
}

}  // namespace

std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode) {
    std::optional<std::u16string> app_dir = find_app_dir();
    if (!app_dir) {
        print_line(LauncherStream::err, "not found data local dir");
        return std::nullopt;
    }
    WaitBudget waits;  // one for the whole start, the removal's waits included
    if (install_mode) remove_app_dir(*app_dir, waits);
    // Allocated once: under Wine a fresh 256 KiB block per file cost about 0.5 ms
    // each, more than hashing a small file.
    const std::unique_ptr<uint8_t[]> digest_block(new uint8_t[DIGEST_BLOCK_SIZE]);
    // Likewise the decoded blocks: under Wine a cold start that decoded each
    // entry into fresh ones spent about 0.1 s on 31 MiB of new pages.
    UnpackRun run{.digest_block = std::span<uint8_t>(digest_block.get(), DIGEST_BLOCK_SIZE),
                  .entries = reader.files,
                  .waits = waits};
    for (const BinEntry& entry : reader.files) unpack_entry(*app_dir, entry, run);
    return path_join(*app_dir, utf8_to_utf16(reader.exe));
}

}  // namespace quillbox
