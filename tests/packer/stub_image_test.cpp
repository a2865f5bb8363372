#include "stub_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "bin_reader/pe_builder.h"
#include "bin_reader/pe_section.h"
#include "packer/image_checks.h"

namespace quillbox::pack {
namespace {

using testing::build_image;
using testing::PeBuilder;
using testing::reference_checksum;

std::vector<uint8_t> built(Bytes stub, std::string_view payload) {
    Outcome<std::vector<uint8_t>> out = build_image(stub, view_of(payload));
    EXPECT_TRUE(out.ok()) << describe(*out.error);
    return out.value;
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) { return testing::image_u32(b, at); }

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
        EXPECT_EQ(testing::loader_layout_problem(out), std::nullopt);
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
    // Building on a launcher gives what building on the stub gives, whatever
    // the stub's own rounding or where a payload it carries sits.
    struct Case {
        const char* what;
        std::function<void(PeBuilder&)> shape;
    };
    const Case cases[] = {
        {"plain", [](PeBuilder&) {}},
        {"data ending off the file alignment",  // the payload's padding follows it
         [](PeBuilder& pe) {
             pe.set32(pe.header_of(1) + 16, 500);
             pe.bytes.erase(pe.bytes.end() - 12, pe.bytes.end());
         }},
        {"size of image not rounded", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 56, 0x2800); }},
        {"data padded partly to the alignment",
         [](PeBuilder& pe) {
             pe.set32(pe.header_of(1) + 16, 500);
             pe.bytes.erase(pe.bytes.end() - 6, pe.bytes.end());
             std::fill(pe.bytes.end() - 6, pe.bytes.end(), 0);
         }},
        // The fuzzer's find: a payload section where no section may start
        // (SizeOfImage was set to its address when it was dropped).
        {"payload section at an unaligned address", [](PeBuilder& pe) { pe.section(".qbpayld", 0x1F5, 0x2208, 'p'); }},
        {"payload section at an unaligned file offset",
         [](PeBuilder& pe) {
             pe.set32(pe.header_of(1) + 16, 500);
             pe.bytes.erase(pe.bytes.end() - 12, pe.bytes.end());
             pe.bytes.resize(pe.bytes.size() + 4, 0);
             pe.section(".qbpayld", 5, 0x3000, 'p');
             pe.set32(PeBuilder::OPT + 56, 0x4000);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PeBuilder stub;
        c.shape(stub);
        for (const std::string& first_payload : {std::string("x"), std::string(700, 'a')}) {
            const std::vector<uint8_t> first = built(stub.view(), first_payload);
            for (std::string_view again : {std::string_view(""), std::string_view("short")}) {
                EXPECT_EQ(built(Bytes(first), again), built(stub.view(), again)) << first_payload.size();
            }
            EXPECT_EQ(get32(built(Bytes(first), "short"), PeBuilder::NT + 4) >> 16, 3u);  // still three sections
        }
    }
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
        {"alignment not a power of two", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 36, 768); },
         "file alignment 768"},
        {"file shorter than its headers",
         [](PeBuilder& pe) {
             // No sections, and the file ends inside the free section header,
             // which was then read past the end.
             pe.bytes.resize(330);
             pe.bytes.shrink_to_fit();
             std::fill(pe.bytes.begin() + PeBuilder::TABLE, pe.bytes.end(), 0);
             pe.set16(PeBuilder::NT + 6, 0);
             pe.set32(PeBuilder::OPT + 56, 0x1000);
         },
         "512 bytes of headers in a file of 330"},
        {"section data outside the file", [](PeBuilder& pe) { pe.set32(pe.header_of(1) + 20, 0xFFFFFF00); },
         "section .rdata lies outside the file"},
        {"section outside the image", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 56, 0x2000); },
         "section .rdata lies outside the image"},
        // Windows maps only images whose sections follow one another with no
        // gap (Wine maps the rest): the payload after a SizeOfImage a page too
        // large would leave one.
        {"size of image past the last section", [](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 56, 0x4000); },
         "size of image 16384 is not where the last section ends (12288)"},
        {"gap between sections",
         [](PeBuilder& pe) {
             pe.set32(pe.header_of(1) + 12, 0x3000);
             pe.set32(PeBuilder::OPT + 56, 0x4000);
         },
         "section .rdata starts at 12288, not where the one before it ends (8192)"},
        {"gap after the headers", [](PeBuilder& pe) { pe.set32(pe.header_of(0) + 12, 0x1800); },
         "section .text starts at 6144, not where the one before it ends (4096)"},
        {"signed",
         [](PeBuilder& pe) {
             pe.set32(PeBuilder::SECURITY, 1536);
             pe.set32(PeBuilder::SECURITY + 4, 8);
         },
         "the stub carries a signature; sign the exe after packing, not the stub"},
        {"no room: bytes after the table", [&](PeBuilder& pe) { pe.bytes[next + 39] = 1; },
         "no room for another section header"},
        {"no room: headers end at the table", [&](PeBuilder& pe) { pe.set32(PeBuilder::OPT + 60, next + 20); },
         "no room for another section header"},
        {"data after the last section", [](PeBuilder& pe) { pe.bytes.push_back(0x5A); },
         "the stub has 1 bytes after its last section; use a stripped stub"},
        {"payload section not the last",
         [](PeBuilder& pe) {
             pe.section(".qbpayld", 5, 0x3000, 'p');
             pe.section(".late", 5, 0x4000, 'l');
             pe.set32(PeBuilder::OPT + 56, 0x5000);
         },
         "its payload section is not the last section"},
        {"payload section sharing data with the one before",
         [](PeBuilder& pe) {
             pe.section(".qbpayld", 5, 0x3000, 'p');
             pe.set32(pe.header_of(1) + 16, 1024);  // .rdata's data runs into the payload's
             pe.set32(PeBuilder::OPT + 56, 0x4000);
         },
         "its payload section is not at the end of the image"},
        {"payload too large for an image", [](PeBuilder&) {},
         "a payload of 2147479553 bytes does not fit: a Windows image stays below 2 GiB", (uint64_t{1} << 31) - 4095},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PeBuilder pe;
        c.damage(pe);
        Outcome<StubLayout> layout = place_payload(pe.view(), c.payload_size);
        ASSERT_FALSE(layout.ok());
        EXPECT_NE(layout.error->text().find(c.message), std::string::npos) << layout.error->text();
    }
}

TEST(ResourceSection, GoesBeforeThePayloadAndABuiltLauncherRebuildsToTheSameBytes) {
    const ResourceChanges changes{std::nullopt, std::vector<uint8_t>(100, 7)};
    const PeBuilder stub;
    const Outcome<std::vector<uint8_t>> first = testing::build_image(stub.view(), view_of("payload"), changes);
    ASSERT_TRUE(first.ok()) << first.error->text();
    const std::vector<uint8_t>& out = first.value;
    EXPECT_EQ(testing::loader_layout_problem(out), std::nullopt);
    EXPECT_EQ(testing::image_u32(out, PeBuilder::OPT + 64), testing::reference_checksum(out));
    EXPECT_EQ(testing::image_u16(out, PeBuilder::NT + 6), 4u);
    EXPECT_EQ(std::string(out.begin() + stub.header_of(2), out.begin() + stub.header_of(2) + 7), ".qbrsrc");
    EXPECT_EQ(testing::image_u32(out, PeBuilder::OPT + 96 + 16), 0x3000u);  // the resource directory
    EXPECT_EQ(testing::image_u32(out, stub.header_of(3) + 12), 0x4000u);    // the payload after it
    const Outcome<std::vector<Resource>> read = image_resources(Bytes(out.data(), out.size()));
    ASSERT_TRUE(read.ok() && read.value.size() == 1);
    EXPECT_EQ(read.value[0].data, *changes.version);
    for (std::string_view again : {std::string_view(""), std::string_view("other payload")}) {
        EXPECT_EQ(testing::build_image(Bytes(out), view_of(again), changes).value,
                  testing::build_image(stub.view(), view_of(again), changes).value);
    }
    // Without changes a built launcher keeps the resources it has.
    const Outcome<std::vector<uint8_t>> kept = testing::build_image(Bytes(out), view_of("x"));
    ASSERT_TRUE(kept.ok());
    EXPECT_TRUE(testing::same_resources(image_resources(Bytes(kept.value)).value, read.value));

    PeBuilder one_free = stub;  // room for the payload's header only
    one_free.set32(PeBuilder::OPT + 60, static_cast<uint32_t>(stub.header_of(3)));
    const Outcome<std::vector<uint8_t>> no_room = testing::build_image(one_free.view(), view_of("x"), changes);
    ASSERT_FALSE(no_room.ok());
    EXPECT_NE(no_room.error->text().find("no room for another section header"), std::string::npos);
}

}  // namespace
}  // namespace quillbox::pack
