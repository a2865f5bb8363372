#include "base/error.h"

namespace quillbox {
namespace {

Error error_of(ErrorKind kind, std::string text) {
    Error error;
    error.kind = kind;
    error.text = std::move(text);
    return error;
}

}  // namespace

Error plain_error(std::string text) { return error_of(ErrorKind::none, std::move(text)); }
Error invalid_input(std::string text) { return error_of(ErrorKind::invalid_input, std::move(text)); }
Error invalid_data(std::string text) { return error_of(ErrorKind::invalid_data, std::move(text)); }
Error out_of_memory_error(std::string text) { return error_of(ErrorKind::out_of_memory, std::move(text)); }

Error plain_os_error(uint32_t code, std::string text) {
    Error error = plain_error(std::move(text));
    error.os_code = code;
    error.from_os = true;
    return error;
}

Error os_error(uint32_t code, std::string system_text) {
    Error error = error_of(os_error_kind(code), std::move(system_text));
    error.os_code = code;
    error.from_os = true;
    return error;
}

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

std::string text_with_code(const Error& error) {
    std::string out = error.text;
    if (error.from_os) {
        out += " (os error ";
        out += std::to_string(error.os_code);
        out += ")";
    }
    return out;
}

std::string describe(const Error& error) {
    if (error.kind == ErrorKind::none) return text_with_code(error);
    return std::string(kind_name(error.kind)) + ": " + text_with_code(error);
}

}  // namespace quillbox
