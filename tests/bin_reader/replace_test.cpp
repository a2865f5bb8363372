// The shared rules of replacing a file through a new one beside it, where
// Wine cannot show them: it neither reports names pending deletion nor refuses
// a rename through a handle, and it lets root replace a read-only file.
#include "bin_reader/replace.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

constexpr uint32_t NOT_FOUND = 2, ACCESS_DENIED = 5, SHARING_VIOLATION = 32, NOT_SUPPORTED = 50, INVALID_PARAMETER = 87,
                   FILE_EXISTS = 80, ALREADY_EXISTS = 183, DELETE_PENDING = 303, DISK_FULL = 112;
constexpr uint32_t STATUS_DELETE_PENDING = 0xC0000056, STATUS_ACCESS_DENIED = 0xC0000022;
constexpr uint32_t READ_ONLY = 0x1, ARCHIVE = 0x20;

TEST(Replacing, EachFailureGetsTheStepThatCanStillSucceed) {
    // Creating a temporary file: a name taken, pending deletion included, passes to the next.
    const struct {
        uint32_t error, status;
        bool taken;
    } names[] = {
        {FILE_EXISTS, 0, true},
        {ALREADY_EXISTS, 0, true},
        {DELETE_PENDING, STATUS_DELETE_PENDING, true},
        {ACCESS_DENIED, STATUS_DELETE_PENDING, true},  // FAT, exFAT, network folders, older systems
        {ACCESS_DENIED, STATUS_ACCESS_DENIED, false},  // the folder is not the user's: every name fails
        {NOT_FOUND, 0, false},
    };
    for (const auto& c : names) EXPECT_EQ(temporary_name_taken(c.error, c.status), c.taken) << c.error;

    // The look before decoding: only a held target is worth waiting for.
    const struct {
        uint32_t error, status, attributes;
        TargetState state;
    } looks[] = {
        {0, 0, ARCHIVE, TargetState::replaceable},
        {0, 0, ARCHIVE | READ_ONLY, TargetState::unreplaceable},
        {SHARING_VIOLATION, 0, 0, TargetState::held},
        {ACCESS_DENIED, STATUS_DELETE_PENDING, 0, TargetState::held},
        {DELETE_PENDING, STATUS_DELETE_PENDING, 0, TargetState::held},
        {ACCESS_DENIED, STATUS_ACCESS_DENIED, 0, TargetState::unreplaceable},  // its ACL refuses deletion
        {NOT_FOUND, 0, 0, TargetState::replaceable},                           // gone meanwhile: written anew
    };
    for (const auto& c : looks) EXPECT_EQ(target_state(c.error, c.status, c.attributes), c.state) << c.error;

    // The move over the target.
    const struct {
        uint32_t error;
        bool read_only, by_name;
        ReplaceStep step;
    } moves[] = {
        {0, false, false, ReplaceStep::done},
        {SHARING_VIOLATION, false, false, ReplaceStep::retry},
        {ACCESS_DENIED, false, false, ReplaceStep::retry},  // open elsewhere, or a mapped library
        {ACCESS_DENIED, true, false, ReplaceStep::give_up},
        {ACCESS_DENIED, true, true, ReplaceStep::give_up},
        {DELETE_PENDING, false, false, ReplaceStep::retry},
        {NOT_SUPPORTED, false, false, ReplaceStep::move_by_name},
        {INVALID_PARAMETER, false, false, ReplaceStep::move_by_name},
        {NOT_SUPPORTED, false, true, ReplaceStep::give_up},  // refused by name as well
        {SHARING_VIOLATION, false, true, ReplaceStep::retry},
        {NOT_FOUND, false, false, ReplaceStep::give_up},
        {DISK_FULL, false, false, ReplaceStep::give_up},
    };
    for (const auto& c : moves) {
        EXPECT_EQ(replace_step(c.error, c.read_only, c.by_name), c.step) << c.error << " " << c.by_name;
    }
}

TEST(Replacing, OneBudgetBoundsTheWaitsOfARunHoweverManyFilesAreHeld) {
    WaitBudget budget;
    uint32_t waited = 0;
    int attempts_of_first = 1;
    std::vector<int> attempts;
    for (int file = 0; file < 20; ++file) {
        int attempt = 1;
        while (const uint32_t pause = take_pause(budget, attempt)) {
            waited += pause;
            ++attempt;
        }
        attempts.push_back(attempt);
        if (file == 0) attempts_of_first = attempt;
    }
    EXPECT_EQ(waited, RUN_WAIT_BUDGET_MS);
    EXPECT_GE(RUN_WAIT_BUDGET_MS, 500u);   // outlasts a scanner's hold on a file or two
    EXPECT_LE(RUN_WAIT_BUDGET_MS, 1000u);  // a start pays at most this for held files
    EXPECT_EQ(attempts_of_first, 10);      // one file never takes more than its ten attempts...
    EXPECT_GT(attempts[1], 1);             // ...so the next held file still has waits left
    EXPECT_EQ(attempts.back(), 1);         // once spent, a file has its one attempt
    EXPECT_EQ(take_pause(budget, 0), 0u);
}

}  // namespace
}  // namespace quillbox
