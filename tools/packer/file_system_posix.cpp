// The packer's operating-system layer on Linux: POSIX calls and std::filesystem.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "file_system.h"

#include "bin_reader/replace.h"
#include "bin_reader/temporary_name.h"

namespace quillbox::pack {
namespace fs = std::filesystem;
namespace {

constexpr size_t READ_CHUNK = size_t{1} << 20;

Error os_failure(std::string_view operation, const fs::path& object, int err) {
    return plain_error(std::string(operation) + " " + quoted(object) + ": " + std::generic_category().message(err));
}

// "operation "object": why", from a std::filesystem failure.
Error fs_failure(std::string_view operation, const fs::path& object, const std::error_code& ec) {
    return plain_error(std::string(operation) + " " + quoted(object) + ": " + ec.message());
}

struct FileDescriptor {
    int fd = -1;

    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }

    // For written files, whose close can report a lost write.
    int close_now() {
        int result = ::close(fd);
        fd = -1;
        return result;
    }
};

struct TemporaryFile {
    fs::path path;
    FileDescriptor file;
    bool keep = false;

    ~TemporaryFile() {
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

std::optional<Error> write_all(int fd, Bytes bytes, const fs::path& path) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return os_failure("cannot write", path, errno);
        }
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return std::nullopt;
}

// The last `count` elements of `path`: an entry's path below the walked folder,
// however that folder was spelled.
std::vector<std::string> last_parts(const fs::path& path, size_t count) {
    std::vector<std::string> parts;
    for (const fs::path& part : path) parts.push_back(part.string());
    parts.erase(parts.begin(), parts.end() - static_cast<std::ptrdiff_t>(std::min(count, parts.size())));
    return parts;
}

}  // namespace

std::string path_text(const fs::path& path) { return path.string(); }

fs::path path_from_text(std::string_view text) { return fs::path(text); }

Outcome<std::vector<std::string>> program_arguments(int argc, char** argv) {
    return succeeded(std::vector<std::string>(argv + 1, argv + argc));
}

bool prepare_streams() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<fs::path> own_program() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return self;
}

void write_text(Stream stream, std::string_view text) {
    std::FILE* file = stream == Stream::output ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
    if (stream == Stream::error) std::fflush(file);
}

Outcome<FileFacts> file_facts(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return succeeded(FileFacts{});
        return failed<FileFacts>(os_failure("cannot inspect", path, errno));
    }
    const FileKind kind = S_ISREG(info.st_mode)   ? FileKind::file
                          : S_ISDIR(info.st_mode) ? FileKind::folder
                                                  : FileKind::other;
    const FileIdentity identity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return succeeded(FileFacts{kind, static_cast<uint64_t>(info.st_size), identity});
}

std::optional<Error> create_folders(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) return fs_failure("cannot create folder", path, ec);
    return std::nullopt;
}

Outcome<FolderWalk> walk_folder(const fs::path& folder) {
    FolderWalk walk;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
    if (ec) return failed<FolderWalk>(fs_failure("cannot open folder", folder, ec));
    fs::path last = folder;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::directory_entry& entry = *it;
        last = entry.path();
        std::error_code status_ec;
        const fs::file_status target = entry.status(status_ec);  // follows links to files
        std::error_code link_ec;
        const bool link = entry.is_symlink(link_ec);
        if (status_ec) {
            if (link) return failed<FolderWalk>(fs_failure("cannot follow link", entry.path(), status_ec));
            return failed<FolderWalk>(fs_failure("cannot inspect", entry.path(), status_ec));
        }
        if (link && fs::is_directory(target)) walk.skipped_links.push_back(entry.path());
        // Folders are walked; sockets, FIFOs and devices have no content to store.
        if (!fs::is_regular_file(target)) continue;
        const uint64_t size = entry.file_size(status_ec);
        walk.files.push_back(
            FoundFile{last_parts(entry.path(), size_t(it.depth()) + 1), entry.path(), status_ec ? 0 : size});
    }
    if (ec) return failed<FolderWalk>(fs_failure("cannot list folder", last, ec));
    return succeeded(std::move(walk));
}

Outcome<std::vector<uint8_t>> read_whole_file(const fs::path& path) {
    using Result = std::vector<uint8_t>;
    // O_NONBLOCK: a FIFO put where a file was must not hang the open; it is refused below.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.fd < 0) return failed<Result>(os_failure("cannot open", path, errno));
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) return failed<Result>(os_failure("cannot inspect", path, errno));
    if (!S_ISREG(info.st_mode)) return failed<Result>(invalid_input(quoted(path) + " is not a regular file"));

    // One byte beyond the known size, so that a file read whole ends in one more short read.
    Result bytes(static_cast<size_t>(info.st_size) + 1);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(bytes.size() + std::max(bytes.size(), READ_CHUNK));
        ssize_t got = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return failed<Result>(os_failure("cannot read", path, errno));
        }
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    bytes.resize(filled);
    return succeeded(std::move(bytes));
}

std::optional<Error> write_file_atomically(const fs::path& target,
                                           const std::function<std::optional<Error>(const ByteSink&)>& fill,
                                           bool durable) {
    if (std::optional<Error> error = names_no_file(target)) return error;

    TemporaryFile temp;
    // The launcher's names, from the process's one counter, so that the jobs
    // of one packer never try the same name.
    for (int attempt = 1;; ++attempt) {
        fs::path candidate =
            target.parent_path() / utf16_to_utf8_lossy(next_temporary_name(static_cast<uint32_t>(::getpid())));
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp.path = std::move(candidate);
            temp.file.fd = fd;
            break;
        }
        if (errno != EEXIST || attempt == TEMPORARY_NAME_ATTEMPTS) {
            return os_failure("cannot create temporary file", candidate, errno);
        }
    }

    const ByteSink sink = [&](Bytes bytes) { return write_all(temp.file.fd, bytes, temp.path); };
    if (std::optional<Error> error = fill(sink)) return error;
    if (durable && ::fsync(temp.file.fd) != 0) return os_failure("cannot flush", temp.path, errno);
    if (temp.file.close_now() != 0) return os_failure("cannot close", temp.path, errno);
    if (::rename(temp.path.c_str(), target.c_str()) != 0) {
        return os_failure("cannot rename " + quoted(temp.path) + " to", target, errno);
    }
    temp.keep = true;
    return std::nullopt;
}

Outcome<std::vector<ListedFile>> list_files(const fs::path& folder) {
    using Result = std::vector<ListedFile>;
    // Through std::filesystem, not readdir: a 32-bit build's readdir fails on
    // the 64-bit directory offsets of ext4.
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return failed<Result>(fs_failure("cannot open folder", folder, ec));
    Result files;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        struct stat info {};
        // A file removed meanwhile (by another packer) is simply not listed.
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const int64_t modified = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
        files.push_back(ListedFile{it->path().filename().string(), static_cast<uint64_t>(info.st_size), modified});
    }
    if (ec) return failed<Result>(fs_failure("cannot list folder", folder, ec));
    return succeeded(std::move(files));
}

std::optional<Error> remove_file(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return os_failure("cannot delete", path, errno);
    return std::nullopt;
}

std::optional<Error> touch_file(const fs::path& path) {
    if (::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) != 0) return os_failure("cannot touch", path, errno);
    return std::nullopt;
}

std::optional<fs::path> user_cache_root() {
    // The XDG rule: a relative value is to be ignored.
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') return fs::path(xdg);
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return fs::path(home) / ".cache";
    return std::nullopt;
}

void mark_executable(const fs::path& path) {
    // Executable like a linker's output, for whoever runs it through binfmt or copies it on.
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add,
                    ec);
}

}  // namespace quillbox::pack
