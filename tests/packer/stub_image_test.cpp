#include "stub_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "bin_reader/pe_builder.h"
#include "bin_reader/pe_section.h"

namespace quillbox::pack {
namespace {

using testing::PeBuilder;


std::vector<uint8_t> built(Bytes stub, std::string_view payload) {
    Outcome<std::vector<uint8_t>> out = build_image(stub, view_of(payload));
    EXPECT_TRUE(out.ok()) << describe(*out.error);
    return out.value;
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// The checksum as the Windows image helper computes it: fold after every word,
// with the checksum field itself read as zero.
uint32_t reference_checksum(const std::vector<uint8_t>& file) {
    const size_t field = PeBuilder::OPT + 64;
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == field || i == field + 2) continue;
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

TEST(StubImage, AddsThePayloadSectionAndKeepsEveryOtherByte) {
    const PeBuilder stub;
    for (std::string_view payload : {std::string_view("quillbox!"), std::string_view("x"), std::string_view()}) {
        SCOPED_TRACE(payload.size());
        const std::vector<uint8_t> out = built(stub.view(), payload);
        const bool added = !payload.empty();
        Outcome<Bytes> found = find_section(Bytes(out), ImageLayout::file, PAYLOAD_SECTION);
        ASSERT_TRUE(found.ok());
        EXPECT_EQ(std::string(found.value.begin(), found.value.end()), payload);
        EXPECT_EQ(out.size(), added ? 2048u : 1536u);
        EXPECT_EQ(get32(out, PeBuilder::OPT + 56), added ? 0x4000u : 0x3000u);  // size of image
        EXPECT_EQ(get32(out, PeBuilder::OPT + 8), added ? 1024u : 512u);        // initialised data
        EXPECT_EQ(get32(out, PeBuilder::OPT + 64), reference_checksum(out));
        std::set<size_t> changed{PeBuilder::NT + 6, PeBuilder::NT + 7};
        for (size_t field : {PeBuilder::OPT + 8, PeBuilder::OPT + 56, PeBuilder::OPT + 64}) {
            for (size_t i = 0; i < 4; ++i) changed.insert(field + i);
        }
        if (added) {
            const size_t header = stub.header_of(2);
            const uint32_t want[] = {static_cast<uint32_t>(payload.size()), 0x3000, 512, 1536, 0, 0, 0, 0x40000040};
            for (size_t i = 0; i < 8; ++i) EXPECT_EQ(get32(out, header + 8 + 4 * i), want[i]) << i;
            for (size_t i = 0; i < 40; ++i) changed.insert(header + i);
        }
        for (size_t i = 0; i < stub.bytes.size(); ++i) {
            if (!changed.count(i)) {
                ASSERT_EQ(out[i], stub.bytes[i]) << "offset " << i;
            }
        }
        EXPECT_TRUE(std::all_of(out.begin() + 1536 + payload.size(), out.end(), [](uint8_t b) { return b == 0; }));
    }
}

TEST(StubImage, ABuiltLauncherTakesANewPayloadInPlaceOfItsOld) {
    const PeBuilder stub;
    const std::vector<uint8_t> first = built(stub.view(), std::string(700, 'a'));  // two file-alignment units
    EXPECT_EQ(built(Bytes(first), "short"), built(stub.view(), "short"));
    EXPECT_EQ(built(Bytes(first), ""), built(stub.view(), ""));
    EXPECT_EQ(get32(built(Bytes(first), "short"), PeBuilder::NT + 4) >> 16, 3u);  // still three sections
}

TEST(StubImage, ChecksumDoesNotDependOnHowThePayloadArrives) {
    const std::string payload = "an odd-sized payload, fed in uneven pieces";
    Outcome<StubLayout> whole = place_payload(PeBuilder().view(), payload.size());
    Outcome<StubLayout> pieces = whole;
    ASSERT_TRUE(whole.ok());
    set_checksum(whole.value, [&](const auto& add) { add(view_of(payload)); });
    set_checksum(pieces.value, [&](const auto& add) {
        for (size_t at = 0, step = 1; at < payload.size(); at += step, step = step % 4 + 1) {
            add(view_of(std::string_view(payload).substr(at, step)));
        }
    });
    EXPECT_EQ(whole.value.head, pieces.value.head);
}

TEST(StubImage, RefusesStubsItCannotExtend) {
    struct Case {
        const char* what;
        std::function<void(PeBuilder&)> damage;
        const char* message;
        uint64_t payload_size = 100;
    };
    const size_t next = PeBuilder().header_of(2);
    const Case cases[] = {
        {"not MZ", [](PeBuilder& pe) { pe.bytes[0] = 'Z'; }, "not a PE file: no MZ signature"},
        {"cut in the DOS header", [](PeBuilder& pe) { pe.bytes.resize(40); }, "not a PE file: truncated DOS header"},
        {"no PE signature", [](PeBuilder& pe) { pe.bytes[PeBuilder::NT] = 'N'; }, "not a PE file: no PE signature"},
        {"cut in the optional header", [](PeBuilder& pe) { pe.bytes.resize(200); }, "truncated optional header"},
        {"unknown optional header", [](PeBuilder& pe) { pe.set16(PeBuilder::OPT, 0x107); }, "magic 263"},
        {"too many directories", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 92, 17); }, "do not fit"},
        {"alignment not a power of two", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 36, 768); }, "file alignment 768"},
        {"section data outside the file", [](PeBuilder& pe) { pe.set32(pe.header_of(1) + 20, 0xFFFFFF00); },
         "section .rdata lies outside the file"},
        {"section outside the image", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 56, 0x2000); },
         "section .rdata lies outside the image"},
        {"signed", [](PeBuilder& pe) { pe.set32(PeBuilder::SECURITY, 1536); pe.set32(PeBuilder::SECURITY + 4, 8); },
         "the stub carries a signature; sign the exe after packing, not the stub"},
        {"no room: bytes after the table", [&](PeBuilder& pe) { pe.bytes[next + 39] = 1; },
         "no room for another section header"},
        {"no room: headers end at the table", [&](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 60, next + 20); },
         "no room for another section header"},
        {"data after the last section", [](PeBuilder& pe) { pe.bytes.push_back(0); },
         "the stub has 1 bytes after its last section; use a stripped stub"},
        {"payload section not the last", [](PeBuilder& pe) {
             pe.section(".qbpayld", 5, 0x3000, 'p');
             pe.section(".late", 5, 0x4000, 'l');
             pe.set32(PeBuilder::OPT + 56, 0x5000);
         }, "its payload section is not the last section"},
        {"payload too large for an image", [](PeBuilder&) {},
         "a payload of 2147479553 bytes does not fit: a Windows image stays below 2 GiB", (uint64_t{1} << 31) - 4095},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PeBuilder pe;
        c.damage(pe);
        Outcome<StubLayout> layout = place_payload(pe.view(), c.payload_size);
        ASSERT_FALSE(layout.ok());
        EXPECT_NE(layout.error->text.find(c.message), std::string::npos) << layout.error->text;
    }
}

}  // namespace
}  // namespace quillbox::pack
