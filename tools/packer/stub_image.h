// Turning the payload-less launcher (the stub) into a launcher carrying a
// payload: the payload goes into a section of its own at the end of the image,
// read-only initialised data, and the headers are updated to match; rewritten
// resources go into a section of their own just before it. Every byte of the
// stub outside the fields that must change is kept.
#pragma once

#include <cstdint>
#include <vector>

#include "resource_changes.h"
#include "resource_tree.h"

#include "base/bytes.h"
#include "base/error.h"
#include "base/text.h"

namespace quillbox::pack {

// A Windows image stays below 2 GiB: larger ones cannot be mapped into a
// 32-bit process.
inline constexpr uint64_t IMAGE_LIMIT = uint64_t{1} << 31;

// The output file is `head`, then the payload, then `padding` zero bytes.
struct StubLayout {
    std::vector<uint8_t> head;  // the stub with its new headers, up to the payload
    uint64_t padding = 0;
    size_t checksum_offset = 0;  // of the checksum field in `head`, which is left zero
};

// Where a payload of `payload_size` bytes goes into `stub`. A payload section
// already there is replaced. An empty payload adds no section: a launcher
// without one reads an empty payload. Changed resources go into a section of
// their own before the payload, replacing one an earlier build added; without
// changes the stub's resources stay as they are. A non-empty `exit_setting`
// goes into a section of its own between them, replacing one an earlier build
// added; an empty one leaves none.
Outcome<StubLayout> place_payload(Bytes stub, uint64_t payload_size, const ResourceChanges& changes = {},
                                  Bytes exit_setting = {});

// The resources of an image, as its resource directory lists them.
Outcome<std::vector<Resource>> image_resources(Bytes image);

// The PE checksum: 16-bit little-endian words summed with end-around carry,
// fed in file order, plus the file's length.
struct ImageChecksum {
    uint64_t sum = 0;
    uint64_t length = 0;

    void add(Bytes bytes);
    uint32_t value() const;
};

// The checksum of the whole file, written into the head's checksum field;
// `payload` feeds the payload's bytes to the function it is given.
template <class FeedPayload>
void set_checksum(StubLayout& layout, const FeedPayload& payload) {
    ImageChecksum checksum;
    checksum.add(Bytes(layout.head.data(), layout.head.size()));
    payload([&](Bytes bytes) { checksum.add(bytes); });
    checksum.length += layout.padding;  // zeros add nothing to the sum
    const uint32_t value = checksum.value();
    set_u32le(layout.head, layout.checksum_offset, value);
}

}  // namespace quillbox::pack
