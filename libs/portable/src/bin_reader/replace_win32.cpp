// Win32 side of replacing a file through a new one beside it (replace_win32.h).
#include "bin_reader/replace_win32.h"

#include "bin_reader/temporary_name.h"

namespace quillbox {
namespace {

using LastNtStatusFn = LONG(WINAPI*)();

// The NT status behind the last failed call, which alone tells a name pending
// deletion from one the user may not touch; 0 where ntdll lacks the call.
uint32_t last_nt_status() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto status = ntdll ? exported<LastNtStatusFn>(ntdll, "RtlGetLastNtStatus") : nullptr;
    return status ? static_cast<uint32_t>(status()) : 0;
}

bool read_only(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// The move by name, once the handle that shares no deletion is closed.
DWORD move_by_name(TemporaryFile& temp, const std::u16string& target) {
    temp.file.reset();
    return MoveFileExW(wide(temp.path), wide(target), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
}

}  // namespace

TemporaryFile::~TemporaryFile() {
    if (placed) return;
    if (file.valid()) {
        delete_when_closed(file.get());
    } else if (!path.empty()) {
        DeleteFileW(wide(path));
    }
}

DWORD create_temporary_file(const std::function<std::u16string(std::u16string_view)>& path_of, TemporaryFile& temp) {
    DWORD code = 0;
    for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
        temp.path = path_of(next_temporary_name(GetCurrentProcessId()));
        temp.file = UniqueHandle(CreateFileW(wide(temp.path), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (temp.file.valid()) return 0;
        code = GetLastError();
        if (!temporary_name_taken(code, last_nt_status())) break;
    }
    temp.path.clear();  // names nobody's file: nothing to delete
    return code;
}

DWORD replace_with(TemporaryFile& temp, const std::u16string& target, WaitBudget& budget) {
    bool by_name = false;
    for (int attempt = 1;; ++attempt) {
        const DWORD code = by_name ? move_by_name(temp, target) : rename_over(temp.file.get(), target);
        const bool refused = code == ERROR_ACCESS_DENIED && read_only(target);
        switch (replace_step(code, refused, by_name)) {
            case ReplaceStep::done: temp.placed = true; return 0;
            case ReplaceStep::give_up: return code;
            case ReplaceStep::move_by_name:
                by_name = true;
                attempt = 0;  // the move by name has its own attempts
                continue;
            case ReplaceStep::retry: break;
        }
        if (!pause_before_next(budget, attempt)) return code;
    }
}

bool pause_before_next(WaitBudget& budget, int attempt) {
    const uint32_t pause = take_pause(budget, attempt);
    if (pause != 0) Sleep(pause);
    return pause != 0;
}

bool replaceable_after_waiting(const std::u16string& target, WaitBudget& budget) {
    for (int attempt = 1;; ++attempt) {
        UniqueHandle look(CreateFileW(wide(target), DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const DWORD code = look.valid() ? 0 : GetLastError();
        const uint32_t status = look.valid() ? 0 : last_nt_status();
        BY_HANDLE_FILE_INFORMATION info{};
        if (look.valid() && !GetFileInformationByHandle(look.get(), &info)) info.dwFileAttributes = 0;
        switch (target_state(code, status, info.dwFileAttributes)) {
            case TargetState::replaceable: return true;
            case TargetState::unreplaceable: return false;
            case TargetState::held: break;
        }
        if (!pause_before_next(budget, attempt)) return false;
    }
}

}  // namespace quillbox
