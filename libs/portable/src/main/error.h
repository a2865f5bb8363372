// Failures carried as values, so that the portable code can be tested and fuzzed
// without ending the process; only the platform layer turns them into fatal stops.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace quillbox {

struct Error {
    std::string kind;       // e.g. "invalid input", "not found"; empty for plain reports
    std::string text;       // the message itself
    uint32_t os_code = 0;   // the system error code when from_os is set
    bool from_os = false;
};

Error invalid_input(std::string text);

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


// The name of the kind of a Win32 error code, as shown in reports ("not found", ...).
const char* os_error_kind(uint32_t code);

// An operating-system error with its kind and the system's own text.
Error os_error(uint32_t code, std::string system_text);

}  // namespace quillbox
