#include "main/error.h"

namespace quillbox {

Error invalid_input(std::string text) {
    return Error{"invalid input", std::move(text), 0, false};
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
    return error.kind.empty() ? text_with_code(error) : error.kind + ": " + text_with_code(error);
}


const char* os_error_kind(uint32_t code) {
    switch (code) {
        case 2: case 3: case 15: case 53: case 67: case 161:  // file, path, drive, network path
            return "not found";
        case 5: case 19: case 1314:  // access denied, write protected, privilege not held
            return "permission denied";
        case 32: case 33: case 303:  // sharing violation, lock violation, delete pending
            return "resource busy";
        case 80: case 183:
            return "already exists";
        case 87: case 123: case 1:  // invalid parameter, invalid name, invalid function
            return "invalid input";
        case 193: case 216: case 11:  // bad exe format, exe machine type mismatch, bad format
            return "invalid executable";
        case 8: case 14:
            return "out of memory";
        case 39: case 112:
            return "storage full";
        case 109: case 232:
            return "broken pipe";
        case 145:
            return "directory not empty";
        case 206:
            return "invalid filename";
        case 267:
            return "not a directory";
        case 258: case 1460:
            return "timed out";
        default:
            return "uncategorized";
    }
}

Error os_error(uint32_t code, std::string system_text) {
    return Error{os_error_kind(code), std::move(system_text), code, true};
}

}  // namespace quillbox
