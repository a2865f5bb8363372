#include "main/launch.h"

namespace quillbox {

std::string quoted_name(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace quillbox
