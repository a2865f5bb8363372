// Win32 side of replacing a file through a new one written beside it, for the
// launcher and the Windows packer alike; the decisions are in replace.h.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "bin_reader/replace.h"

#include "base/win32.h"

namespace quillbox {

// A file written under a temporary name beside its target. Unless it was moved
// into place it is deleted when this goes: through its handle while open, by
// its name after a move by name closed the handle.
struct TemporaryFile {
    UniqueHandle file;
    std::u16string path;  // as the file system takes it
    bool placed = false;

    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();
};

// Creates a new file under the process's next temporary name, `path_of(name)`
// being its path in the target's folder, open for writing and for its move or
// deletion and shared for reading only: nobody can delete, rename or write it
// (another start's sweep of leftovers included) while it is in flight. A name
// that is taken, pending deletion included, passes to the next, up to
// TEMPORARY_NAME_ATTEMPTS names. 0, or the error of the last name tried.
DWORD create_temporary_file(const std::function<std::u16string(std::u16string_view)>& path_of, TemporaryFile& temp);

// Moves the written file over `target` (its file-system form) in one step,
// through its handle: whoever opens the target finds the old file or the new
// one, whole. The classic rename, on purpose: a target that is open elsewhere,
// mapped as a running program or library, or read-only is refused and stays
// as it was. A held target is tried again after pauses taken from `budget`;
// where the file system refuses the rename through a handle, the file is
// closed and moved by name, by the same rules. 0 or the last error; the file
// is then left to the destructor.
DWORD replace_with(TemporaryFile& temp, const std::u16string& target, WaitBudget& budget);

// Sleeps the pause before attempt `attempt` + 1, taken from `budget`; false
// when no further attempt is due (take_pause).
bool pause_before_next(WaitBudget& budget, int attempt);

// A look at an existing target before anything is decompressed for it: an
// open for deletion, the access the move over it needs. Waits while it is held,
// with pauses taken from `budget`; once the budget is spent a held target has
// this one look. Whether the move is worth trying.
bool replaceable_after_waiting(const std::u16string& target, WaitBudget& budget);

}  // namespace quillbox
