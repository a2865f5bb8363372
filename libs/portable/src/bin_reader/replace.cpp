// The shared decisions of replacing a file through a new one beside it.
#include "bin_reader/replace.h"

#include <algorithm>

#include "bin_reader/removal.h"

namespace quillbox {
namespace {

constexpr uint32_t ATTRIBUTE_READ_ONLY = 0x1;
constexpr uint32_t WIN32_INVALID_FUNCTION = 1;
constexpr uint32_t WIN32_NOT_SUPPORTED = 50;
constexpr uint32_t WIN32_INVALID_PARAMETER = 87;
constexpr uint32_t WIN32_CALL_NOT_IMPLEMENTED = 120;

bool pending_deletion(uint32_t win32_error, uint32_t nt_status) {
    return win32_error == WIN32_DELETE_PENDING ||
           (win32_error == WIN32_ACCESS_DENIED && nt_status == NT_STATUS_DELETE_PENDING);
}

}  // namespace

uint32_t take_pause(WaitBudget& budget, int attempt) {
    if (attempt < 1 || attempt >= REMOVE_ATTEMPTS) return 0;
    const uint32_t pause = std::min(retry_pause_ms(attempt), budget.left_ms);
    budget.left_ms -= pause;
    return pause;
}

bool temporary_name_taken(uint32_t win32_error, uint32_t nt_status) {
    return win32_error == WIN32_FILE_EXISTS || win32_error == WIN32_ALREADY_EXISTS ||
           pending_deletion(win32_error, nt_status);
}

TargetState target_state(uint32_t open_error, uint32_t nt_status, uint32_t attributes) {
    if (open_error == 0)
        return (attributes & ATTRIBUTE_READ_ONLY) ? TargetState::unreplaceable : TargetState::replaceable;
    if (open_error == WIN32_SHARING_VIOLATION || pending_deletion(open_error, nt_status)) return TargetState::held;
    if (open_error == WIN32_ACCESS_DENIED) return TargetState::unreplaceable;
    return TargetState::replaceable;  // gone, or a failure the move itself will meet and report
}

ReplaceStep replace_step(uint32_t win32_error, bool target_read_only, bool by_name) {
    switch (win32_error) {
        case 0: return ReplaceStep::done;
        case WIN32_SHARING_VIOLATION:
        case WIN32_DELETE_PENDING: return ReplaceStep::retry;
        case WIN32_ACCESS_DENIED: return target_read_only ? ReplaceStep::give_up : ReplaceStep::retry;
        case WIN32_INVALID_FUNCTION:
        case WIN32_NOT_SUPPORTED:
        case WIN32_INVALID_PARAMETER:
        case WIN32_CALL_NOT_IMPLEMENTED: return by_name ? ReplaceStep::give_up : ReplaceStep::move_by_name;
        default: return ReplaceStep::give_up;
    }
}

}  // namespace quillbox
