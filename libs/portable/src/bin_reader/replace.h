// Replacing a file through a new one written beside it, the decisions the
// launcher and both packers share: when a failed step is worth another attempt,
// how long the waits for files in use may take over a whole run, and what to
// do where the file system refuses the move through the handle. The Win32
// steps are in replace_win32.h; the Linux packer keeps its POSIX calls and
// shares the names (temporary_name.h).
#pragma once

#include <cstdint>

namespace quillbox {

// Win32 codes and NT status values the decisions read, spelled here so that
// the rules build and are tested without the platform's headers.
inline constexpr uint32_t WIN32_FILE_EXISTS = 80;
inline constexpr uint32_t WIN32_ALREADY_EXISTS = 183;
inline constexpr uint32_t WIN32_DELETE_PENDING = 303;
inline constexpr uint32_t NT_STATUS_DELETE_PENDING = 0xC0000056;

// Milliseconds one run may spend waiting for files in use, all files together:
// enough to outlast a scanner's hold on a file or two, and what a start costs
// at most however many files the running application holds.
inline constexpr uint32_t RUN_WAIT_BUDGET_MS = 1000;

// What a run may still wait. One per launcher start (the removal and every
// entry draw from it), one per file the packer writes.
struct WaitBudget {
    uint32_t left_ms = RUN_WAIT_BUDGET_MS;
};

// The pause before attempt `attempt` + 1 of one file (`attempt` 1-based),
// taken from the budget: the removal's growing pauses (retry_pause_ms) up to
// REMOVE_ATTEMPTS attempts, cut to what is left. 0 means no further attempt:
// once the budget is spent, each file has its one attempt and no more.
uint32_t take_pause(WaitBudget& budget, int attempt);

// Whether a create-new open of a temporary name failed because the name is
// taken, so that the next name may succeed: a file of that name, or one
// pending deletion, which older systems and FAT, exFAT and network folders
// report as access denied with STATUS_DELETE_PENDING behind it.
bool temporary_name_taken(uint32_t win32_error, uint32_t nt_status);

// How many names a writer tries before giving up: a name is taken only by a
// file that a dead process of the same id left.
inline constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

// What a look at an existing target says before anything is decompressed for
// it: an open for deletion is what the move over it needs.
enum class TargetState {
    replaceable,    // or gone: the move can be tried
    held,           // another process has it open without delete sharing: waiting may help
    unreplaceable,  // read-only, or not the user's to delete: no waiting helps
};

// The state from the look's open (`open_error` 0 when it succeeded, with the
// target's attributes).
TargetState target_state(uint32_t open_error, uint32_t nt_status, uint32_t attributes);

enum class ReplaceStep {
    done,
    retry,         // the target is held: again after a pause, while the budget lasts
    move_by_name,  // the move through the handle is not supported here: by name instead
    give_up,       // the target keeps its content
};

// What follows a move over the target that failed with `win32_error` (0:
// done). Windows reports a target held open elsewhere, or mapped as a running
// program, as a sharing violation or access denied; access denied to a
// read-only target is final. A file system that refuses the rename request
// itself (some virtual machines' shared folders, user-mode and encrypting file
// systems) gets the move by name, which replaces by the same rules; refused
// again `by_name`, the move is given up.
ReplaceStep replace_step(uint32_t win32_error, bool target_read_only, bool by_name);

}  // namespace quillbox
