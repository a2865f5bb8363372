#include "bin_reader/digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillbox {
namespace {

TEST(Digest, Md5HexGivesTheRfcDigestsInLowerCase) {
    // RFC 1321 test suite values.
    EXPECT_EQ(md5_hex(view_of("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex(view_of("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex(view_of("12345678901234567890123456789012345678901234567890123456789012345678901234567890")),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// A file stand-in: hands out `content` at most `per_read` bytes at a time and
// fails once `fail_at` bytes have been handed out.
struct FakeFile {
    std::string content;
    size_t per_read = SIZE_MAX;
    size_t fail_at = SIZE_MAX;
    size_t offset = 0;

    Outcome<size_t> read(std::span<uint8_t> into) {
        if (offset >= fail_at) return failed<size_t>(os_error(23, "Data error (cyclic redundancy check)."));
        Outcome<size_t> out;
        out.value = std::min({into.size(), per_read, content.size() - offset, fail_at - offset});
        std::memcpy(into.data(), content.data() + offset, out.value);
        offset += out.value;
        return out;
    }
};

TEST(Digest, FileReadInBlocksGivesTheWholeDigestOrTheFirstReadFailure) {
    std::string big(2 * DIGEST_BLOCK_SIZE + 1, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + (i >> 12));
    struct Case {
        const char* what;
        FakeFile file;
        bool ok;
    };
    const Case cases[] = {
        {"empty", {""}, true},
        {"one byte per read", {"abc", 1}, true},
        {"exactly one block", {big.substr(0, DIGEST_BLOCK_SIZE)}, true},
        {"blocks and one byte", {big}, true},
        {"short odd reads", {big, 4093}, true},
        {"fails on the first read", {big, SIZE_MAX, 0}, false},
        {"fails after a block", {big, SIZE_MAX, DIGEST_BLOCK_SIZE}, false},
    };
    std::vector<uint8_t> block(DIGEST_BLOCK_SIZE);  // one block for every case, as a run shares one
    for (const Case& c : cases) {
        FakeFile file = c.file;
        Outcome<std::string> digest =
            md5_hex_of_blocks([&](std::span<uint8_t> into) { return file.read(into); }, block);
        ASSERT_EQ(digest.ok(), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(digest.value, md5_hex(view_of(c.file.content))) << c.what;
        } else {
            EXPECT_EQ(digest.error->os_code(), 23u) << c.what;
        }
    }
    // Pieces hash as if joined.
    const Bytes pieces[] = {view_of("12345"), view_of(""), view_of("678901234567890")};
    EXPECT_EQ(md5_hex(pieces), md5_hex(view_of("12345678901234567890")));
}

}  // namespace
}  // namespace quillbox
