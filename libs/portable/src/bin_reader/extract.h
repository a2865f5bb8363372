// Bringing the per-user folder up to date with the payload: each entry's file is
// written only when missing or when its MD5 differs from the stored digest.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bin_reader/bin_reader.h"

namespace quillbox {

inline constexpr char16_t APP_DIR_NAME[] = u"quillbox";

// %LOCALAPPDATA%\quillbox, or nothing when the known folder cannot be found.
std::optional<std::u16string> find_app_dir();

// Makes one entry's file current; ignores failures to create folders, open for
// writing or write; a present file that cannot be read is a fatal stop.
void unpack_entry(std::u16string_view app_dir, const BinEntry& entry);

// The launch path (app_dir joined with exe), or nothing after reporting that the
// local application-data folder is missing. Install mode empties app_dir first.
std::optional<std::u16string> unpack_all(const BinReader& reader, bool install_mode);

}  // namespace quillbox
