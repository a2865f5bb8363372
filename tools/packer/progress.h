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

// Redraws the line, from one second after the start on.
void show_progress(ProgressLine& line, const PackProgress& progress);

// Erases a line that was shown.
void clear_progress(const ProgressLine& line);

}  // namespace quillbox::pack
