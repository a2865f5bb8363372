// The decisions of the install-mode removal that need no platform: what to do
// with each item it opens, which failures are worth another attempt and how
// long to wait before it, and what access each open asks for. The Win32 walk
// is in app_dir_win32.cpp.
#pragma once

#include <cstdint>

namespace quillbox {

// What the install-mode removal does with one item it has opened without
// following it.
enum class RemovalStep {
    enter,         // a real folder: empty it, then delete it
    delete_alone,  // a file, or a link deleted as a link and never followed
    stop,          // found outside the folder: left alone, and the removal ends
};

// Win32 attribute bits, the reparse tag's name-surrogate bit and the error
// codes the launcher and the packer both decide on, spelled here so that the
// rules build and are tested without the platform's headers.
inline constexpr uint32_t ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr uint32_t REPARSE_TAG_NAME_SURROGATE = 0x20000000;
inline constexpr uint32_t WIN32_ACCESS_DENIED = 5;
inline constexpr uint32_t WIN32_SHARING_VIOLATION = 32;

// Whether an item is a link, for the removal and the packer's walk alike: only a name-surrogate reparse point (symbolic
// link, junction) is; any other (cloud placeholder, deduplicated file) is the ordinary file or folder it stands for.
bool is_link(uint32_t attributes, uint32_t reparse_tag);

// A link is deleted as a link, a real folder entered. An item that the file
// system places elsewhere than where it was named (a folder swapped for a
// link, Wine's view of a Unix link) is not the folder's to delete: deleting it
// would reach outside, so the removal stops.
RemovalStep removal_step(uint32_t attributes, uint32_t reparse_tag, bool where_named);

// The most attempts any one item or file gets while it is busy.
inline constexpr int REMOVE_ATTEMPTS = 10;

// What install mode does after failing to open or delete an item.
enum class RemovalOutcome {
    gone,     // removed meanwhile by someone else
    pass_by,  // left where it is, and the removal goes on with the rest
    wait,     // tried again after a pause, while the start's budget lasts
};

// An item another process holds (a sharing violation, or pending deletion,
// which Windows reports to an open as access denied with STATUS_DELETE_PENDING
// behind it) is passed by at once: a live launcher's temporary file is held
// for as long as it is written, and the application's files for as long as it
// runs, far longer than a start can wait. So is every other item that will not
// go (the running application's exe, one the user may not delete). The one
// wait is for a folder `emptied` of everything it listed that still reports
// items: those are pending deletion under a handle someone (a scanner) is about
// to close.
RemovalOutcome after_removal_failure(uint32_t win32_error, bool emptied);

// Milliseconds to wait after failed attempt `attempt` (1-based) before the next:
// doubling from 1 ms, about half a second over all attempts, long enough to
// outlast a scanner's hold on a file without stalling the start for long.
uint32_t retry_pause_ms(int attempt);

// The access each item is opened with: what deleting needs and no more (read
// or write access to the data only invites sharing violations), plus listing
// for a folder, which is emptied through the same handle.
uint32_t removal_access(bool folder);

// The flags of the POSIX-semantics deletion, as the system's own DeleteFileW
// passes them: the name goes at once, read-only is no obstacle, and an image
// that is mapped (the running application's exe) refuses to go, as it does
// with the classic deletion, instead of being unlinked under the process.
inline constexpr uint32_t DISPOSITION_DELETE = 0x1;
inline constexpr uint32_t DISPOSITION_POSIX_SEMANTICS = 0x2;
inline constexpr uint32_t DISPOSITION_FORCE_IMAGE_SECTION_CHECK = 0x4;
inline constexpr uint32_t DISPOSITION_IGNORE_READONLY = 0x10;
inline constexpr uint32_t POSIX_DELETE_FLAGS = DISPOSITION_DELETE | DISPOSITION_POSIX_SEMANTICS |
                                               DISPOSITION_FORCE_IMAGE_SECTION_CHECK | DISPOSITION_IGNORE_READONLY;

}  // namespace quillbox
