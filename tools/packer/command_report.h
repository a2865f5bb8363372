// How the packer's commands word what they report: a failure's text, a reason
// placed after what it concerns, and figures printed in a fixed form.
#pragma once

#include <cstdio>
#include <string>

#include "file_system.h"
#include "progress.h"

#include "base/error.h"

namespace quillbox::pack {

inline constexpr double MIB = 1024.0 * 1024.0;

inline Error failure(std::string text) { return plain_error(std::move(text)); }

// The reason after `context`, without its kind: the form the stub, icon and
// resource reports take ("\"stub.exe\": the stub is not a PE file: ...").
inline Error reason_in(const Error& reason, std::string context) {
    return without_kind(with_context(reason, std::move(context)));
}

// Figures only: the text is cut at the buffer's size.
void print(Stream stream, const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    write_text(stream, text);
}

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace quillbox::pack
