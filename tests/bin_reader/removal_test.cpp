#include "bin_reader/removal.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

TEST(RemovalStep, OnlyNameSurrogatesCountAsLinksAndNothingOutsideIsTouched) {
    constexpr uint32_t FILE = 0x20, FOLDER = 0x10, REPARSE = 0x400;
    struct Case {
        const char* what;
        uint32_t attributes, tag;
        bool where_named;
        bool link;
        RemovalStep step;
    };
    const Case cases[] = {
        {"plain folder", FOLDER, 0, true, false, RemovalStep::enter},
        {"plain file", FILE, 0, true, false, RemovalStep::delete_alone},
        {"junction", FOLDER | REPARSE, 0xA0000003, true, true, RemovalStep::delete_alone},
        {"symbolic link to a folder", FOLDER | REPARSE, 0xA000000C, true, true, RemovalStep::delete_alone},
        {"symbolic link to a file", FILE | REPARSE, 0xA000000C, true, true, RemovalStep::delete_alone},
        {"cloud placeholder folder", FOLDER | REPARSE, 0x9000701A, true, false, RemovalStep::enter},
        {"deduplicated file", FILE | REPARSE, 0x80000013, true, false, RemovalStep::delete_alone},
        {"tag without the reparse attribute", FOLDER, 0xA0000003, true, false, RemovalStep::enter},
        // Found outside the folder (a folder above swapped for a junction after
        // the listing, or a Unix link under Wine): deleting it would reach
        // outside, so nothing is deleted and the removal ends.
        {"folder that lives elsewhere", FOLDER, 0, false, false, RemovalStep::stop},
        {"file that lives elsewhere", FILE, 0, false, false, RemovalStep::stop},
        {"placeholder that lives elsewhere", FOLDER | REPARSE, 0x9000701A, false, false, RemovalStep::stop},
        {"link that lives elsewhere", FOLDER | REPARSE, 0xA0000003, false, true, RemovalStep::stop},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_link(c.attributes, c.tag), c.link) << c.what;
        EXPECT_EQ(removal_step(c.attributes, c.tag, c.where_named), c.step) << c.what;
    }
}

// Real Windows only (Wine neither reports delete-pending opens this way nor
// holds files the way scanners do): what install mode passes by and what it
// waits for.
TEST(RemovalRetry, HeldItemsArePassedByAndOnlyAnEmptiedFolderIsWaitedFor) {
    constexpr uint32_t ACCESS_DENIED = 5, SHARING_VIOLATION = 32, DIR_NOT_EMPTY = 145, DELETE_PENDING = 303,
                       NOT_FOUND = 2, PATH_NOT_FOUND = 3;
    struct Case {
        const char* what;
        uint32_t error;
        bool emptied;
        RemovalOutcome outcome;
    };
    const Case cases[] = {
        {"held by another process (a live launcher's temporary file)", SHARING_VIOLATION, true,
         RemovalOutcome::pass_by},
        {"marked pending deletion", DELETE_PENDING, true, RemovalOutcome::pass_by},
        {"not the user's, or pending deletion behind access denied", ACCESS_DENIED, true, RemovalOutcome::pass_by},
        {"folder whose items all went, some still pending", DIR_NOT_EMPTY, true, RemovalOutcome::wait},
        {"folder holding an item passed by", DIR_NOT_EMPTY, false, RemovalOutcome::pass_by},
        {"gone", NOT_FOUND, false, RemovalOutcome::gone},
        {"folder gone", PATH_NOT_FOUND, true, RemovalOutcome::gone},
    };
    for (const Case& c : cases) EXPECT_EQ(after_removal_failure(c.error, c.emptied), c.outcome) << c.what;

    for (int attempt = 2; attempt < REMOVE_ATTEMPTS; ++attempt) {
        EXPECT_GT(retry_pause_ms(attempt), retry_pause_ms(attempt - 1)) << attempt;
    }
    EXPECT_EQ(retry_pause_ms(1), 1u);
}

// Real Windows only: the access and deletion flags Wine does not check.
TEST(RemovalAccess, AsksForWhatDeletingNeedsAndKeepsARunningImage) {
    constexpr uint32_t DELETE = 0x10000, SYNCHRONIZE = 0x100000, READ_ATTRIBUTES = 0x80, LIST_DIRECTORY = 0x1;
    EXPECT_EQ(removal_access(false), DELETE | SYNCHRONIZE | READ_ATTRIBUTES);  // no data access: fewer sharing clashes
    EXPECT_EQ(removal_access(true), DELETE | SYNCHRONIZE | READ_ATTRIBUTES | LIST_DIRECTORY);
    EXPECT_EQ(POSIX_DELETE_FLAGS, 0x17u);  // what DeleteFileW passes: image section check included
}

}  // namespace
}  // namespace quillbox
