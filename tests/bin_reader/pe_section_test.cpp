#include "bin_reader/pe_section.h"

#include <gtest/gtest.h>

#include <functional>

#include "bin_reader/pe_builder.h"

namespace quillbox {
namespace {

using testing::PeBuilder;

PeBuilder with_payload() {
    PeBuilder pe;
    pe.section(".qbpayld", 5, 0x3000, 'p');
    pe.set32(PeBuilder::OPT + 56, 0x4000);
    return pe;
}

TEST(FindSection, ReadsTheNamedSectionInBothLayouts) {
    const PeBuilder pe = with_payload();
    const std::vector<uint8_t> mapped = pe.mapped();
    const Bytes layouts[] = {pe.view(), Bytes(mapped.data(), mapped.size())};
    const ImageLayout kinds[] = {ImageLayout::file, ImageLayout::mapped};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        Outcome<Bytes> payload = find_section(layouts[i], kinds[i], PAYLOAD_SECTION);
        ASSERT_TRUE(payload.ok()) << describe(*payload.error);
        EXPECT_EQ(text_of(payload.value), "ppppp");
        Outcome<Bytes> rdata = find_section(layouts[i], kinds[i], ".rdata");
        ASSERT_TRUE(rdata.ok());
        EXPECT_EQ(text_of(rdata.value), std::string(0x80, 'r'));
        // A name is matched whole, not as a prefix.
        for (std::string_view absent : {".qbpayl", ".text2", ""}) {
            Outcome<Bytes> none = find_section(layouts[i], kinds[i], absent);
            ASSERT_TRUE(none.ok()) << absent;
            EXPECT_TRUE(none.value.empty()) << absent;
        }
    }
    PeBuilder empty;
    empty.section(".qbpayld", 0, 0x3000, 0, 0);
    Outcome<Bytes> nothing = find_section(empty.view(), ImageLayout::file, PAYLOAD_SECTION);
    ASSERT_TRUE(nothing.ok());
    EXPECT_TRUE(nothing.value.empty());
}

TEST(FindSection, RefusesHeadersThatPointOutsideTheImage) {
    const size_t payload = PeBuilder().header_of(2);
    struct Case {
        const char* what;
        std::function<void(PeBuilder&)> damage;
        ImageLayout layout = ImageLayout::file;
    };
    const Case cases[] = {
        {"empty", [](PeBuilder& pe) { pe.bytes.clear(); }},
        {"no MZ", [](PeBuilder& pe) { pe.bytes[1] = 'X'; }},
        {"cut inside the DOS header", [](PeBuilder& pe) { pe.bytes.resize(0x3E); }},
        {"NT headers past the end", [](PeBuilder& pe) { pe.set32(0x3C, 0xFFFFFFF0); }},
        {"no PE signature", [](PeBuilder& pe) { pe.bytes[PeBuilder::NT + 1] = 'X'; }},
        {"section table past the end", [](PeBuilder& pe) { pe.set16(PeBuilder::NT + 6, 0xFFFF); }},
        {"optional header past the end", [](PeBuilder& pe) { pe.set16(PeBuilder::NT + 20, 0xFFFF); }},
        {"data offset wraps", [&](PeBuilder& pe) { pe.set32(payload + 20, 0xFFFFFFFE); }},
        {"virtual size beyond the data in the file", [&](PeBuilder& pe) { pe.set32(payload + 8, 513); }},
        {"virtual size beyond the file",
         [&](PeBuilder& pe) {
             pe.set32(payload + 8, 600);
             pe.set32(payload + 16, 600);
         }},
        {"address beyond the mapped image", [&](PeBuilder& pe) { pe.set32(payload + 12, 0x3FFE); },
         ImageLayout::mapped},
        {"address wraps in the mapped image", [&](PeBuilder& pe) { pe.set32(payload + 12, 0xFFFFFFFF); },
         ImageLayout::mapped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PeBuilder pe = with_payload();
        std::vector<uint8_t> image;
        if (c.layout == ImageLayout::mapped) {
            image = pe.mapped();
            pe.bytes = image;  // damaged after mapping, as a hostile image would be
        }
        c.damage(pe);
        Outcome<Bytes> found = find_section(pe.view(), c.layout, PAYLOAD_SECTION);
        ASSERT_FALSE(found.ok());
        EXPECT_EQ(found.error->text().rfind("image header: ", 0), 0u) << found.error->text();
    }
}

}  // namespace
}  // namespace quillbox
