// Drawing and erasing the progress line on a terminal.
#include "progress.h"

#include <cstdio>

#include "file_system.h"

namespace quillbox::pack {
namespace {

constexpr double MIB = 1024.0 * 1024.0;
constexpr auto PROGRESS_DELAY = std::chrono::seconds(1);

// "1 min 05 s", "12 s".
std::string duration_text(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole < 60) {
        std::snprintf(text, sizeof text, "%ld s", whole);
    } else {
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    }
    return text;
}

// The time left if the rest goes at the pace so far, or nothing before any
// progress has been made.
std::optional<double> seconds_left(double elapsed, uint64_t done, uint64_t total) {
    if (done == 0 || done > total) return std::nullopt;
    return elapsed * double(total - done) / double(done);
}

// The line's text for the progress so far, `elapsed` seconds after the start.
std::string progress_text(const ProgressLine& line, const PackProgress& progress, double elapsed) {
    const std::optional<double> left = seconds_left(elapsed, progress.bytes_done, line.total_bytes);
    const std::string left_text = left ? "about " + duration_text(*left) + " left" : "time left unknown";
    char text[160];
    std::snprintf(text, sizeof text, "%zu/%zu files (%zu from the cache), %.1f/%.1f MiB, ", progress.files_done,
                  line.total_files, progress.from_cache, double(progress.bytes_done) / MIB,
                  double(line.total_bytes) / MIB);
    return text + duration_text(elapsed) + " elapsed, " + left_text;
}

}  // namespace

void show_progress(ProgressLine& line, const PackProgress& progress) {
    const Clock::duration since = Clock::now() - line.start;
    if (!line.enabled || since <= PROGRESS_DELAY) return;
    const double elapsed = std::chrono::duration<double>(since).count();
    // "\r" and erase-to-end-of-line redraw the same line in place.
    // Appended piece by piece: "\r" + string trips a false -Wrestrict in GCC 12.
    std::string text = "\r";
    text += progress_text(line, progress, elapsed);
    text += "\x1b[K";
    write_text(Stream::error, text);
    line.shown = true;
}

void clear_progress(const ProgressLine& line) {
    if (line.shown) write_text(Stream::error, "\r\x1b[K");
}

}  // namespace quillbox::pack
