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

class Error;

// A report that is its text alone.
Error plain_error(std::string text);
Error invalid_input(std::string text);
Error invalid_data(std::string text);
Error out_of_memory_error(std::string text);

// An operating-system error with its kind and the system's own text.
Error os_error(uint32_t code, std::string system_text);

// An operating-system error shown by its text and code alone, with no kind.
Error plain_os_error(uint32_t code, std::string text);

// The error with `context` (what was being done, which entry) before its text,
// kind and code kept: an error passed up gains context instead of being turned
// into text and made again. describe() shows "context: kind: text".
Error with_context(Error error, std::string context);

// The error shown without its kind, for reports that give the reason alone
// ("\"stub.exe\": the stub is not a PE file: ..."); context and code kept.
Error without_kind(Error error);

// A failure: built only through the functions above, read through its accessors.
class Error {
public:
    ErrorKind kind() const { return kind_; }
    // The message, with any context before it; no kind and no code.
    std::string text() const { return context_.empty() ? text_ : context_ + ": " + text_; }
    bool from_os() const { return from_os_; }
    uint32_t os_code() const { return os_code_; }  // the system error code when from_os()

private:
    Error(ErrorKind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    friend Error plain_error(std::string text);
    friend Error invalid_input(std::string text);
    friend Error invalid_data(std::string text);
    friend Error out_of_memory_error(std::string text);
    friend Error os_error(uint32_t code, std::string system_text);
    friend Error plain_os_error(uint32_t code, std::string text);
    friend Error with_context(Error error, std::string context);
    friend Error without_kind(Error error);
    friend std::string describe(const Error& error);

    ErrorKind kind_;
    std::string context_;  // outermost first, "a: b"
    std::string text_;
    uint32_t os_code_ = 0;
    bool from_os_ = false;
};

// "text", and " (os error N)" after an operating-system error; context before it.
std::string text_with_code(const Error& error);

// "context: kind: text (os error N)": each part only when there is one.
std::string describe(const Error& error);

// A value or the failure that prevented it. T must be default-constructible.
template <class T>
struct Outcome {
    T value{};
    std::optional<Error> error;

    bool ok() const { return !error; }
};

template <class T>
Outcome<T> succeeded(T value) {
    return Outcome<T>{std::move(value), std::nullopt};
}

template <class T>
Outcome<T> failed(Error error) {
    Outcome<T> outcome;
    outcome.error = std::move(error);
    return outcome;
}

}  // namespace quillbox
