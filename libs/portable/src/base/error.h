// Failures carried as values, so that the portable code can be tested and fuzzed
// without ending the process; only the platform layer turns them into fatal stops.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace quillbox {

// What went wrong, as the reports name it ("invalid input", "not found", ...);
// `none` for plain reports that carry their text alone.
enum class ErrorKind {
    none,
    invalid_input,
    invalid_data,
    invalid_executable,
    invalid_filename,
    not_found,
    permission_denied,
    resource_busy,
    already_exists,
    out_of_memory,
    storage_full,
    broken_pipe,
    directory_not_empty,
    not_a_directory,
    timed_out,
    uncategorized,
};

// Built only through the named functions below.
struct Error {
    ErrorKind kind = ErrorKind::none;
    std::string text;      // the message itself
    uint32_t os_code = 0;  // the system error code when from_os is set
    bool from_os = false;
};

// A report that is its text alone.
Error plain_error(std::string text);
Error invalid_input(std::string text);
Error invalid_data(std::string text);
Error out_of_memory_error(std::string text);

// An operating-system error with its kind and the system's own text.
Error os_error(uint32_t code, std::string system_text);

// An operating-system error shown by its text and code alone, with no kind.
Error plain_os_error(uint32_t code, std::string text);

// The kind as the reports show it; empty for ErrorKind::none.
const char* kind_name(ErrorKind kind);

// The kind of a Win32 error code.
ErrorKind os_error_kind(uint32_t code);

// "text", and " (os error N)" after an operating-system error.
std::string text_with_code(const Error& error);

// "kind: text", and " (os error N)" after an operating-system error.
std::string describe(const Error& error);

// A value or the failure that prevented it. T must be default-constructible.
template <class T>
struct Outcome {
    T value{};
    std::optional<Error> error;

    bool ok() const { return !error; }
};

template <class T>
Outcome<T> failed(Error error) {
    Outcome<T> outcome;
    outcome.error = std::move(error);
    return outcome;
}

}  // namespace quillbox
