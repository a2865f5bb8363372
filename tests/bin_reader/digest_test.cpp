#include "bin_reader/digest.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

Bytes view_of(std::string_view s) { return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(Digest, Md5HexGivesTheRfcDigestsInLowerCase) {
    // RFC 1321 test suite values.
    EXPECT_EQ(md5_hex(view_of("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex(view_of("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex(view_of("12345678901234567890123456789012345678901234567890123456789012345678901234567890")),
              "57edf4a22be3c955ac49da2e2107b67a");
}

}  // namespace
}  // namespace quillbox
