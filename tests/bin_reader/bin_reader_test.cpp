#include "bin_reader/bin_reader.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>

#include "bin_reader/payload_builder.h"

namespace quillbox {
namespace {

using testing::joined_text;
using testing::PayloadBuilder;

const std::string DIGEST(32, 'a');

TEST(ParsePayload, AcceptsWellFormedPayloads) {
    struct Case {
        const char* what;
        PayloadBuilder payload;
        std::vector<std::string> names;
        std::vector<std::string> data;
        std::string exe;
    };
    const Case cases[] = {
        {"no entries", PayloadBuilder().magic().magic().raw(".\\quillbox.exe"), {}, {}, ".\\quillbox.exe"},
        {"empty launch path", PayloadBuilder().magic().magic(), {}, {}, ""},
        {"two entries",
         PayloadBuilder().magic().entry(".\\a.exe", "xyz", DIGEST).entry(".\\b.dll", "", DIGEST).magic().raw("a"),
         {".\\a.exe", ".\\b.dll"},
         {"xyz", ""},
         "a"},
        {"empty name", PayloadBuilder().magic().entry("", "d", DIGEST).magic(), {""}, {"d"}, ""},
        {"ill-formed name keeps later offsets",
         PayloadBuilder().magic().entry("a\xFFz", "dd", DIGEST).magic().raw("e"),
         {"a\xEF\xBF\xBDz"},
         {"dd"},
         "e"},
        {"duplicate names kept in order",
         PayloadBuilder().magic().entry("n", "1", DIGEST).entry("n", "2", DIGEST).magic(),
         {"n", "n"},
         {"1", "2"},
         ""},
        {"ill-formed launch path", PayloadBuilder().magic().magic().raw("\xC3"), {}, {}, "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        auto parsed = parse_payload(c.payload.view());
        ASSERT_TRUE(parsed.ok()) << c.what << ": " << parsed.error->text();
        ASSERT_EQ(parsed.value.files.size(), c.names.size()) << c.what;
        for (size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(parsed.value.files[i].name, c.names[i]) << c.what;
            EXPECT_EQ(text_of(parsed.value.files[i].data), c.data[i]) << c.what;
            EXPECT_EQ(text_of(parsed.value.files[i].md5), DIGEST) << c.what;
        }
        EXPECT_EQ(parsed.value.exe, c.exe) << c.what;
    }
}

TEST(ParsePayload, ReportsTheFailedBoundWithOffsetAndLength) {
    struct Case {
        const char* what;
        PayloadBuilder payload;
        std::string report;  // the whole report text
    };
    const Case cases[] = {
        {"wrong magic", PayloadBuilder().raw("Quillbox").magic(), "bin file is not valid!"},
        {"magic differs in one byte", PayloadBuilder().raw("quillboy").magic(), "bin file is not valid!"},
        {"shorter than the magic", PayloadBuilder().raw("quill"),
         "opening magic: end offset 8 is out of range for the payload's length 5"},
        {"no end marker", PayloadBuilder().magic(),
         "window of the entry at offset 8: end offset 16 is out of range for the payload's length 8"},
        {"digest ends exactly at the end", PayloadBuilder().magic().entry("n", "d", DIGEST),
         "window of the entry at offset 50: end offset 58 is out of range for the payload's length 50"},
        {"name past the end", PayloadBuilder().magic().u32(100).raw("abcd"),
         "name of the entry at offset 8: end offset 112 is out of range for the payload's length 16"},
        {"name end wraps", PayloadBuilder().magic().u32(0xFFFFFFFF).raw("abcd"),
         "name of the entry at offset 8: name start 12 lies after the wrapped name end 11"},
        {"data length cut short", PayloadBuilder().magic().u32(1).raw("n").raw(std::string_view("\0\0\0", 3)),
         "data length of the entry at offset 8: index 16 is out of bounds for length 16"},
        {"data past the end", PayloadBuilder().magic().u32(1).raw("n").u32(1000).raw("xy"),
         "data of the entry at offset 8: end offset 1017 is out of range for the payload's length 19"},
        {"data end wraps", PayloadBuilder().magic().u32(1).raw("n").u32(0xFFFFFFF0).raw("xyzw"),
         "data of the entry at offset 8: data start 17 lies after the wrapped data end 1"},
        {"NUL in a name", PayloadBuilder().magic().entry(std::string_view(".\\q.exe\0.txt", 12), "d", DIGEST).magic(),
         "name of the entry at offset 8: NUL character at offset 19"},
        {"NUL in a later entry's name, not a bound",
         PayloadBuilder().magic().entry("a", "d", DIGEST).entry(std::string_view("\0", 1), "d", DIGEST).magic(),
         "name of the entry at offset 50: NUL character at offset 54"},
        {"entry-shaped bytes after the end marker are a launch path with NULs",
         PayloadBuilder().magic().magic().entry("n", "1", DIGEST),
         "launch path at offset 16: NUL character at offset 16"},
        {"NUL in the launch path", PayloadBuilder().magic().magic().raw(std::string_view(".\\q.exe\0x", 9)),
         "launch path at offset 16: NUL character at offset 23"},
        {"digest cut short", PayloadBuilder().magic().u32(1).raw("n").u32(2).raw("xy").raw(std::string(31, 'a')),
         "digest of the entry at offset 8: end offset 51 is out of range for the payload's length 50"},
    };
    for (const Case& c : cases) {
        auto parsed = parse_payload(c.payload.view());
        ASSERT_FALSE(parsed.ok()) << c.what;
        EXPECT_EQ(parsed.error->text(), c.report) << c.what;
    }
}

TEST(ParsePayloadDeathTest, ReadStopsOnADamagedPayload) {
    PayloadBuilder bad = PayloadBuilder().raw("QUILLBOX").magic();
    EXPECT_DEATH(BinReader::read(bad.view()), "bin file is not valid!");
}

std::string compress(std::string_view content, int quality = 11, int window = 22) {
    std::string out(BrotliEncoderMaxCompressedSize(content.size()) + 16, '\0');
    size_t size = out.size();
    EXPECT_TRUE(BrotliEncoderCompress(quality, window, BROTLI_MODE_GENERIC, content.size(),
                                      reinterpret_cast<const uint8_t*>(content.data()), &size,
                                      reinterpret_cast<uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

TEST(DecompressStream, FillsBlocksInOrderWithoutRegrowth) {
    std::mt19937 random(7);
    std::string noise(3 << 20, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    std::string text;
    while (text.size() < (9 << 20)) text += "quillbox portable launcher line " + std::to_string(text.size()) + "\n";
    const std::string contents[] = {
        "", "x", std::string(4096, 'a'), std::string(4097, 'b'), std::string(100000, 'c'), noise, text};
    for (const std::string& content : contents) {
        std::string stream = compress(content, content.size() > 1000000 ? 5 : 11);
        auto out = decompress_stream(view_of(stream));
        ASSERT_TRUE(out.ok()) << out.error->text();
        ASSERT_EQ(out.value.size, content.size());
        EXPECT_EQ(joined_text(out.value), content);
        if (content.empty()) {
            EXPECT_TRUE(out.value.chunks.empty());  // so the writer makes no write call
        }
        size_t capacity = 0;
        for (size_t i = 0; i < out.value.chunks.size(); ++i) {
            const ByteBuffer& chunk = out.value.chunks[i];
            EXPECT_LE(chunk.capacity, CHUNK_SIZE) << content.size();
            if (i + 1 < out.value.chunks.size()) {
                EXPECT_EQ(chunk.size, chunk.capacity) << content.size() << " #" << i;
            }
            capacity += chunk.capacity;
        }
        // A small file gets small blocks; a large one leaves less than one block unused.
        const size_t unused = capacity - content.size();
        EXPECT_LE(unused, std::max<size_t>(2 * content.size(), 8192)) << content.size();
        EXPECT_LT(unused, CHUNK_SIZE) << content.size();
    }
}

// One run's entries share their blocks: a later entry decodes into the blocks
// an earlier one handed back (whatever they held), and takes fresh ones only
// for what the spare ones cannot hold, so the run holds about its largest
// entry and never more than that plus one block.
TEST(DecompressStream, LaterEntriesDecodeIntoTheBlocksEarlierOnesHandedBack) {
    std::mt19937 random(11);
    auto noise = [&random](size_t size) {
        std::string out(size, '\0');
        for (char& c : out) c = static_cast<char>(random());
        return out;
    };
    // In run order: each decodes after all before it have handed their blocks back.
    const std::string contents[] = {
        std::string(70000, 'a'), noise(3 << 20), "",         "x", noise(100000), std::string(1536 << 10, 'b'),
        noise(3 << 20),          noise(5 << 20), noise(4000)};
    SpareBlocks spare;
    std::set<const uint8_t*> known;  // every block the run has allocated
    size_t largest = 0;
    for (const std::string& content : contents) {
        const std::string stream = compress(content, 1);
        size_t spare_capacity = 0;
        for (const ByteBuffer& block : spare.blocks) spare_capacity += block.capacity;

        auto out = decompress_stream(view_of(stream), spare);
        ASSERT_TRUE(out.ok()) << out.error->text();
        EXPECT_EQ(joined_text(out.value), content) << content.size();
        size_t fresh = 0;
        for (const ByteBuffer& chunk : out.value.chunks) {
            if (known.insert(chunk.bytes.get()).second) fresh += chunk.capacity;
        }
        if (content.size() <= spare_capacity) {
            EXPECT_EQ(fresh, 0u) << content.size();
        } else {
            EXPECT_TRUE(spare.blocks.empty()) << content.size();  // spare blocks are used up first
            EXPECT_LT(fresh, content.size() - spare_capacity + CHUNK_SIZE) << content.size();
        }
        largest = std::max(largest, content.size());
        give_back(std::move(out.value), spare);
        size_t held = 0;
        for (const ByteBuffer& block : spare.blocks) {
            EXPECT_EQ(block.size, 0u);
            held += block.capacity;
        }
        EXPECT_GE(held, largest);
        EXPECT_LT(held, largest + CHUNK_SIZE) << content.size();
    }
}

// The window a decoder frees serves the next decoder's window if it holds it,
// never a code table (asked for first); a larger window releases it before it
// is allocated and is kept in its place. The sizes are the decoder's own:
// windows of 2^n + 42 bytes, tables in multiples of four.
TEST(DecoderMemory, KeepsTheLargestWindowForTheNextWindow) {
    enum Outcome { reused, fresh, replaces };
    auto window = [](int bits) { return (size_t{1} << bits) + 42; };
    const std::pair<size_t, Outcome> steps[] = {
        {window(22), replaces}, {window(21), reused}, {1107968, fresh}, {window(22), reused}, {window(23), replaces},
        {window(23), reused},   {window(17), reused}, {1 << 20, fresh}, {1000, fresh},        {window(10), fresh}};
    SpareBlocks spare;
    for (const auto& [size, outcome] : steps) {
        const uint8_t* kept = spare.window.bytes.get();
        void* block = decoder_alloc(&spare, size);
        std::memset(block, 1, size);  // all of it is usable
        const uint8_t* kept_meanwhile = spare.window.bytes.get();
        decoder_free(&spare, block);
        const uint8_t* kept_after = spare.window.bytes.get();
        switch (outcome) {
            case reused:
                EXPECT_EQ(kept_meanwhile, nullptr) << size;
                EXPECT_EQ(kept_after, kept) << size;
                break;
            case fresh:
                EXPECT_EQ(kept_meanwhile, kept) << size;
                EXPECT_EQ(kept_after, kept) << size;
                break;
            case replaces:
                EXPECT_EQ(kept_meanwhile, nullptr) << size;
                EXPECT_GE(spare.window.capacity, size) << size;
                break;
        }
    }
    EXPECT_LT(spare.window.capacity, window(23) + 64);
}

TEST(DecompressStream, ReportsBrokenStreams) {
    std::string good = compress(std::string(100000, 'z') + "tail");
    std::string truncated = good.substr(0, good.size() / 2);
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
    const std::string broken[] = {"", truncated, std::string("\xFF\xFF\xFF\xFF", 4), flipped};
    for (const std::string& stream : broken) {
        auto out = decompress_stream(view_of(stream));
        EXPECT_FALSE(out.ok()) << stream.size();
    }
}

TEST(DecompressStreamDeathTest, EntryDecompressStopsWithTheDecoderError) {
    static const std::string bad = "\xFF\xFF\xFF\xFF";
    BinEntry entry{".\\x.exe", view_of(bad), view_of(DIGEST)};
    SpareBlocks spare;
    EXPECT_DEATH(entry.decompress(spare), "entry \"\\.\\\\x\\.exe\": invalid data: brotli decoder error");
}

// The decoder's own allocations (its 16 MiB window here) end in the out-of-memory
// stop with the size asked for, not in a decoder error.
TEST(DecompressStreamDeathTest, DecoderAllocationFailureIsTheOutOfMemoryStop) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    if (std::getenv("QUILLBOX_UNDER_QEMU") != nullptr) {
        GTEST_SKIP() << "qemu-user keeps address-space limits off the program it runs";
    }
    std::string text;
    while (text.size() < (20 << 20)) text += "window filler " + std::to_string(text.size()) + "\n";
    const std::string stream = compress(text, 5, 24);
    auto limited_decompress = [&] {
        size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t room = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (8 << 20);  // less than the window
        const rlimit limit{room, room};
        setrlimit(RLIMIT_AS, &limit);
        (void)decompress_stream(view_of(stream));
    };
    EXPECT_DEATH(limited_decompress(), "memory allocation of 1677[0-9]{4} bytes failed");
#endif
}

}  // namespace
}  // namespace quillbox
