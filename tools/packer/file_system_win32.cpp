// The packer's operating-system layer on Windows. Files are reached through
// their \\?\ form, so folders deeper than MAX_PATH pack like any other, and
// text crosses the boundary as UTF-16, never through the ANSI code page.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

#include "file_system.h"
#include "system_rules.h"

#include "bin_reader/folders_win32.h"
#include "bin_reader/path.h"
#include "bin_reader/replace_win32.h"
#include "base/split.h"
#include "base/win32.h"

namespace quillbox::pack {
namespace fs = std::filesystem;
namespace {

// ReadFile and WriteFile take 32-bit lengths.
constexpr size_t IO_CHUNK = size_t{1} << 30;
constexpr size_t READ_GROWTH = size_t{1} << 20;

// Reports keep the Linux packer's shape ("cannot open "x": why") and add the code.
Error os_failure(std::string_view operation, const fs::path& object, DWORD code) {
    return plain_os_error(code, std::string(operation) + " " + quoted(object) + ": " + system_message(code));
}

std::u16string native(const fs::path& path) { return std::u16string(u16(path.c_str())); }

// The \\?\ form of `path`: absolute, and free of MAX_PATH, by the launcher's
// rules (extended_path).
std::u16string long_path(const fs::path& path) {
    const std::u16string text = native(path);
    return extended_path(text, full_path_name).value_or(text);
}

fs::path from_native(const std::u16string& text) { return fs::path(std::wstring(wide(text))); }
std::wstring wide_of(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::optional<Error> write_all(HANDLE file, Bytes bytes, const fs::path& path) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (const DWORD code = write_handle(file, text)) return os_failure("cannot write", path, code);
    return std::nullopt;
}

// A folder still to list: its extended-length path, and its path elements
// below the walked folder.
struct PendingFolder {
    std::u16string path;
    std::vector<std::string> parts;
    fs::path shown;  // for messages: the walked folder as given, or the path formed
};

// One folder's files into `walk` and its sub-folders into `pending`. Listed
// names are appended as they stand to the extended-length folder path: a
// second pass through GetFullPathNameW would strip a trailing dot or space
// before the name rule could refuse it, and read another file.
std::optional<Error> list_folder(const PendingFolder& folder, FolderWalk& walk, std::vector<PendingFolder>& pending) {
    WIN32_FIND_DATAW data{};
    UniqueFind find = open_find(FindFirstFileExW(wide(child_path(folder.path, u"*")), FindExInfoBasic, &data,
                                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        const DWORD code = GetLastError();
        return os_failure(folder.parts.empty() ? "cannot open folder" : "cannot list folder", folder.shown, code);
    }
    do {
        const std::u16string_view name = u16(data.cFileName);
        if (name == u"." || name == u"..") continue;
        const std::u16string path = child_path(folder.path, name);
        const std::optional<std::string> part = utf16_to_utf8(name);
        if (!part) return invalid_input("file name " + quoted(from_native(path)) + " is not valid UTF-16");
        std::vector<std::string> parts = folder.parts;
        parts.push_back(*part);
        // The reparse tag is in dwReserved0 when the item is a reparse point.
        switch (walk_step(data.dwFileAttributes, data.dwReserved0)) {
            case WalkStep::skip_link: walk.skipped_links.push_back(from_native(path)); break;
            case WalkStep::enter: pending.push_back({path, std::move(parts), from_native(path)}); break;
            case WalkStep::file:
                const uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
                walk.files.push_back(FoundFile{std::move(parts), from_native(path), size});
                break;
        }
    } while (FindNextFileW(find.get(), &data));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) return os_failure("cannot list folder", folder.shown, code);
    return std::nullopt;
}

FileKind kind_of(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::folder : FileKind::file;
}

bool names_nothing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
           code == ERROR_BAD_NETPATH;
}

// A file held open without sharing cannot be opened even for its attributes;
// its kind and size still come from the folder, its identity stays unknown.
Outcome<FileFacts> facts_from_attributes(const std::u16string& path, const fs::path& shown) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) {
        return failed<FileFacts>(os_failure("cannot inspect", shown, GetLastError()));
    }
    const uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return succeeded(FileFacts{kind_of(data.dwFileAttributes), size, {}});
}

}  // namespace

void write_text(Stream stream, std::string_view text) {
    std::FILE* file = stream == Stream::output ? stdout : stderr;
    const HANDLE h = GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle_present(h) && is_console(h)) {
        std::fflush(file);
        write_console(h, utf8_to_utf16(utf8_lossy(text)));
        return;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    if (stream == Stream::error) std::fflush(file);
}

Outcome<FileFacts> file_facts(const fs::path& path) {
    const std::u16string extended = long_path(path);
    // No access asked: only the attributes are read. Backup semantics opens folders.
    UniqueHandle file(
        CreateFileW(wide(extended), 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD code = GetLastError();
        if (names_nothing(code)) return succeeded(FileFacts{});
        if (code == ERROR_SHARING_VIOLATION) return facts_from_attributes(extended, path);
        return failed<FileFacts>(os_failure("cannot inspect", path, code));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        return failed<FileFacts>(os_failure("cannot inspect", path, GetLastError()));
    }
    FileFacts facts;
    facts.kind = GetFileType(file.get()) == FILE_TYPE_DISK ? kind_of(info.dwFileAttributes) : FileKind::other;
    facts.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    facts.identity =
        FileIdentity{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return succeeded(facts);
}

std::string path_text(const fs::path& path) { return utf16_to_utf8_lossy(u16(path.c_str())); }

fs::path path_from_text(std::string_view text) {
    const std::u16string wide_text = utf8_to_utf16(text);
    return fs::path(std::wstring(reinterpret_cast<const wchar_t*>(wide_text.data()), wide_text.size()));
}

Outcome<std::vector<std::string>> program_arguments(int, char**) {
    // The CRT's argv went through the ANSI code page; the command line itself did not.
    const std::vector<std::u16string> words = split_command_line(u16(GetCommandLineW()), own_module_path_or_empty);
    // The program name is not converted: a packer under any name packs.
    Utf8Words args = words_as_utf8(std::span(words).subspan(1));
    if (args.unpaired) {
        return failed<std::vector<std::string>>(
            invalid_input("argument " + std::to_string(*args.unpaired + 1) + " holds an unpaired surrogate"));
    }
    return succeeded(std::move(args.words));
}

bool prepare_streams() {
    // Text mode would turn every "\n" into "\r\n"; the lines are the same bytes as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The progress line redraws itself with cursor controls, which a console
    // takes only with virtual-terminal processing on.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(err, &mode)) return false;
    return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::optional<fs::path> own_program() {
    Outcome<std::u16string> path = own_module_path();
    if (!path.ok()) return std::nullopt;
    return fs::path(std::wstring(wide(path.value)));
}

std::optional<Error> create_folders(const fs::path& path) {
    if (path.empty() || is_folder(path)) return std::nullopt;
    const std::u16string given = native(path);
    const FoldersMade made = quillbox::create_folders(
        given, [](std::u16string_view prefix) { return long_path(fs::path(wide_of(prefix))); });
    if (made.error == 0) return std::nullopt;
    return os_failure("cannot create folder", from_native(given.substr(0, made.failed_length)), made.error);
}

Outcome<FolderWalk> walk_folder(const fs::path& folder) {
    FolderWalk walk;
    // A list of folders still to read instead of recursion: the depth is the tree's.
    std::vector<PendingFolder> pending{{long_path(folder), {}, folder}};
    while (!pending.empty()) {
        const PendingFolder next = std::move(pending.back());
        pending.pop_back();
        if (std::optional<Error> error = list_folder(next, walk, pending)) return failed<FolderWalk>(*error);
    }
    return succeeded(std::move(walk));
}

Outcome<std::vector<uint8_t>> read_whole_file(const fs::path& path) {
    using Result = std::vector<uint8_t>;
    // Backup semantics opens a folder too, so that it is refused as not a file
    // rather than as access denied.
    UniqueHandle file(CreateFileW(wide(long_path(path)), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
    if (!file.valid()) return failed<Result>(os_failure("cannot open", path, GetLastError()));
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return failed<Result>(invalid_input(quoted(path) + " is not a regular file"));
    }

    // One byte beyond the known size, so that a file read whole ends in one more short read.
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    Result bytes(static_cast<size_t>(size) + 1);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(bytes.size() + std::max(bytes.size(), READ_GROWTH));
        DWORD got = 0;
        const auto want = static_cast<DWORD>(std::min(bytes.size() - filled, IO_CHUNK));
        if (!ReadFile(file.get(), bytes.data() + filled, want, &got, nullptr)) {
            return failed<Result>(os_failure("cannot read", path, GetLastError()));
        }
        if (got == 0) break;
        filled += got;
    }
    bytes.resize(filled);
    return succeeded(std::move(bytes));
}

std::optional<Error> write_file_atomically(const fs::path& target,
                                           const std::function<std::optional<Error>(const ByteSink&)>& fill,
                                           bool durable) {
    if (std::optional<Error> error = names_no_file(target)) return error;

    // The launcher's own steps: a new name from the process's one counter,
    // shared for reading only until it is in place, and the move through the
    // handle it was written by, never reopened by name where the file system
    // allows it. A failure names the last name tried, as the Linux packer does.
    TemporaryFile temp;
    const fs::path folder = target.parent_path();
    const std::u16string folder_path = long_path(folder.empty() ? fs::path(".") : folder);
    fs::path tried;
    if (const DWORD code = create_temporary_file(
            [&](std::u16string_view name) {
                tried = folder / from_native(std::u16string(name));
                return child_path(folder_path, name);
            },
            temp)) {
        return os_failure("cannot create temporary file", tried, code);
    }
    const fs::path temp_path = from_native(temp.path);
    const ByteSink sink = [&](Bytes bytes) { return write_all(temp.file.get(), bytes, temp_path); };
    if (std::optional<Error> error = fill(sink)) return error;
    if (durable && !FlushFileBuffers(temp.file.get())) return os_failure("cannot flush", temp_path, GetLastError());
    // A scanner opens a new exe the moment it is closed and holds it for a
    // moment: a held target is waited for, about a second at most.
    WaitBudget waits;
    if (const DWORD code = replace_with(temp, long_path(target), waits)) {
        return os_failure("cannot rename " + quoted(temp_path) + " to", target, code);
    }
    // Moved by name, the file was closed, and flushed before.
    if (!temp.file.valid()) return std::nullopt;
    if (durable && !FlushFileBuffers(temp.file.get())) return os_failure("cannot flush", target, GetLastError());
    const HANDLE written = temp.file.release();
    if (!CloseHandle(written)) return os_failure("cannot close", target, GetLastError());
    return std::nullopt;
}

Outcome<std::vector<ListedFile>> list_files(const fs::path& folder) {
    using Result = std::vector<ListedFile>;
    // FILETIME counts 100 ns from 1601; ListedFile counts nanoseconds from 1970.
    constexpr int64_t FROM_1601_TO_1970 = 116444736000000000;
    WIN32_FIND_DATAW data{};
    UniqueFind find = open_find(FindFirstFileExW(wide(child_path(long_path(folder), u"*")), FindExInfoBasic, &data,
                                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) return failed<Result>(os_failure("cannot open folder", folder, GetLastError()));
    Result files;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::optional<std::string> name = utf16_to_utf8(u16(data.cFileName));
        if (!name) continue;  // never one of the packer's names
        const int64_t ticks = (int64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
        const uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        files.push_back(ListedFile{*name, size, (ticks - FROM_1601_TO_1970) * 100});
    } while (FindNextFileW(find.get(), &data));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) return failed<Result>(os_failure("cannot list folder", folder, code));
    return succeeded(std::move(files));
}

std::optional<Error> remove_file(const fs::path& path) {
    if (DeleteFileW(wide(long_path(path)))) return std::nullopt;
    const DWORD code = GetLastError();
    if (names_nothing(code)) return std::nullopt;
    return os_failure("cannot delete", path, code);
}

std::optional<Error> touch_file(const fs::path& path) {
    UniqueHandle file(CreateFileW(wide(long_path(path)), FILE_WRITE_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return os_failure("cannot touch", path, GetLastError());
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    if (!SetFileTime(file.get(), nullptr, nullptr, &now)) return os_failure("cannot touch", path, GetLastError());
    return std::nullopt;
}

std::optional<fs::path> user_cache_root() {
    const std::optional<std::u16string> folder = local_app_data_folder();
    if (!folder) return std::nullopt;
    return fs::path(std::wstring(wide(*folder)));
}

void mark_executable(const fs::path&) {}  // Windows runs any .exe

}  // namespace quillbox::pack
