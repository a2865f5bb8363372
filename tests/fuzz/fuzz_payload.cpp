// The payload reader on arbitrary bytes: it must accept or report, never crash,
// and every view it hands out must lie inside the payload.
#include <cstdlib>

#include "bin_reader/bin_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quillbox::Bytes payload(data, size);
    auto parsed = quillbox::parse_payload(payload);
    if (!parsed.ok()) return 0;
    for (const quillbox::BinEntry& entry : parsed.value.files) {
        if (entry.data.data() < data || entry.data.data() + entry.data.size() > data + size) std::abort();
        if (entry.md5.size() != 32 || entry.md5.data() + 32 > data + size) std::abort();
    }
    return 0;
}
