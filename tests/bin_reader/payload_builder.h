// Hand-made payloads for reader tests: fields written one by one so that a test
// can damage exactly the field it is about.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bin_reader/bin_reader.h"
#include "base/text.h"

namespace quillbox::testing {

struct PayloadBuilder {
    std::string bytes;

    PayloadBuilder& raw(std::string_view text) {
        bytes += text;
        return *this;
    }
    PayloadBuilder& u32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((v >> shift) & 0xFF);
        return *this;
    }
    PayloadBuilder& magic() { return raw("quillbox"); }
    PayloadBuilder& entry(std::string_view name, std::string_view data, std::string_view md5) {
        u32(static_cast<uint32_t>(name.size())).raw(name);
        u32(static_cast<uint32_t>(data.size())).raw(data);
        return raw(md5);
    }
    Bytes view() const { return view_of(bytes); }
};

// A decoded entry's blocks as one text.
inline std::string joined_text(const ChunkedBytes& content) {
    std::string out;
    for (Bytes chunk : content.views()) out += text_of(chunk);
    return out;
}

}  // namespace quillbox::testing
