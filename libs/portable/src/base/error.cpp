// Failures as values: their kinds, contexts and the one text every report takes.
#include "base/error.h"

namespace quillbox {
namespace {

const char* kind_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::none: return "";
        case ErrorKind::invalid_input: return "invalid input";
        case ErrorKind::invalid_data: return "invalid data";
        case ErrorKind::invalid_executable: return "invalid executable";
        case ErrorKind::invalid_filename: return "invalid filename";
        case ErrorKind::not_found: return "not found";
        case ErrorKind::permission_denied: return "permission denied";
        case ErrorKind::resource_busy: return "resource busy";
        case ErrorKind::already_exists: return "already exists";
        case ErrorKind::out_of_memory: return "out of memory";
        case ErrorKind::storage_full: return "storage full";
        case ErrorKind::broken_pipe: return "broken pipe";
        case ErrorKind::directory_not_empty: return "directory not empty";
        case ErrorKind::not_a_directory: return "not a directory";
        case ErrorKind::timed_out: return "timed out";
        case ErrorKind::uncategorized: return "uncategorized";
    }
    return "uncategorized";
}

ErrorKind os_error_kind(uint32_t code) {
    switch (code) {
        case 2:
        case 3:
        case 15:
        case 53:
        case 67:
        case 161:  // file, path, drive, network path
            return ErrorKind::not_found;
        case 5:
        case 19:
        case 1314:  // access denied, write protected, privilege not held
            return ErrorKind::permission_denied;
        case 32:
        case 33:
        case 303:  // sharing violation, lock violation, delete pending
            return ErrorKind::resource_busy;
        case 80:
        case 183: return ErrorKind::already_exists;
        case 87:
        case 123:
        case 1:  // invalid parameter, invalid name, invalid function
            return ErrorKind::invalid_input;
        case 193:
        case 216:
        case 11:  // bad exe format, exe machine type mismatch, bad format
            return ErrorKind::invalid_executable;
        case 8:
        case 14: return ErrorKind::out_of_memory;
        case 39:
        case 112: return ErrorKind::storage_full;
        case 109:
        case 232: return ErrorKind::broken_pipe;
        case 145: return ErrorKind::directory_not_empty;
        case 206: return ErrorKind::invalid_filename;
        case 267: return ErrorKind::not_a_directory;
        case 258:
        case 1460: return ErrorKind::timed_out;
        default: return ErrorKind::uncategorized;
    }
}

// " (os error N)" after an operating-system error.
std::string code_suffix(const Error& error) {
    return error.from_os() ? " (os error " + std::to_string(error.os_code()) + ")" : std::string();
}

}  // namespace

Error plain_error(std::string text) { return Error(ErrorKind::none, std::move(text)); }
Error invalid_input(std::string text) { return Error(ErrorKind::invalid_input, std::move(text)); }
Error invalid_data(std::string text) { return Error(ErrorKind::invalid_data, std::move(text)); }
Error out_of_memory_error(std::string text) { return Error(ErrorKind::out_of_memory, std::move(text)); }

Error plain_os_error(uint32_t code, std::string text) {
    Error error(ErrorKind::none, std::move(text));
    error.os_code_ = code;
    error.from_os_ = true;
    return error;
}

Error os_error(uint32_t code, std::string system_text) {
    Error error(os_error_kind(code), std::move(system_text));
    error.os_code_ = code;
    error.from_os_ = true;
    return error;
}

Error with_context(Error error, std::string context) {
    if (!error.context_.empty()) context += ": " + error.context_;
    error.context_ = std::move(context);
    return error;
}

Error without_kind(Error error) {
    error.kind_ = ErrorKind::none;
    return error;
}

std::string text_with_code(const Error& error) { return error.text() + code_suffix(error); }

std::string describe(const Error& error) {
    std::string out = error.context_.empty() ? std::string() : error.context_ + ": ";
    if (error.kind_ != ErrorKind::none) {
        out += kind_name(error.kind_);
        out += ": ";
    }
    return out + error.text_ + code_suffix(error);
}

}  // namespace quillbox
