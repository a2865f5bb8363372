// The Win32 run that brings the per-user folder up to date (extract_win32.cpp);
// the decisions it takes are in extract.h.
#pragma once

#include <optional>
#include <string>

#include "bin_reader/bin_reader.h"

namespace quillbox {

// The launch path (app_dir joined with exe), or nothing after reporting that the
// local application-data folder is missing. Install mode empties app_dir first.
std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode);

}  // namespace quillbox
