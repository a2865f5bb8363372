// The self-updating line `pack` and `build` show on a terminal while they
// compress: files and MiB done, time elapsed and an estimate of the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "payload_writer.h"

namespace quillbox::pack {

using Clock = std::chrono::steady_clock;

struct ProgressLine {
    bool enabled = false;
    Clock::time_point start;
    size_t total_files = 0;
    uint64_t total_bytes = 0;
    bool shown = false;
};

// "1 min 05 s", "12 s".
std::string duration_text(double seconds);

// The time left if the rest goes at the pace so far, or nothing before any
// progress has been made.
std::optional<double> seconds_left(double elapsed, uint64_t done, uint64_t total);

// The line's text for the progress so far, `elapsed` seconds after the start.
std::string progress_text(const ProgressLine& line, const PackProgress& progress, double elapsed);

// Redraws the line, from one second after the start on.
void show_progress(ProgressLine& line, const PackProgress& progress);

// Erases a line that was shown.
void clear_progress(const ProgressLine& line);

}  // namespace quillbox::pack
