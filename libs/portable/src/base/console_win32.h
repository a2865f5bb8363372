// The launcher's two output streams. A line is written whole, with a single
// line feed, at once (so nothing is pending when the run ends); a missing
// stream drops it; a failed write on a present stream is a fatal stop.
#pragma once

#include <string_view>

namespace quillbox {

enum class LauncherStream { out, err };

void print_line(LauncherStream stream, std::string_view utf8_line);

// Writes without any check or allocation; for the fatal report.
void write_stderr_raw(std::string_view utf8_text);

}  // namespace quillbox
