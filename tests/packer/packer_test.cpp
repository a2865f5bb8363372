#include "payload_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"
#include "bin_reader/payload_builder.h"
#include "brotli_stream.h"
#include "temp_folder.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;
using testing::joined_text;

using testing::TempDir;
using testing::write_file;

std::string read_text(const fs::path& path) {
    Outcome<std::vector<uint8_t>> bytes = read_whole_file(path);
    return bytes.ok() ? std::string(bytes.value.begin(), bytes.value.end()) : describe(*bytes.error);
}

// Varied, partly compressible content, so that streams differ in length.
std::string sample_content(size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * seed + (i >> 7)) % 251);
    return out;
}

// The payload in memory, as the tests compare it.
Outcome<std::vector<uint8_t>> encode_payload(const std::vector<PackedEntry>& entries, std::string_view exe) {
    std::vector<uint8_t> out;
    std::optional<Error> error = write_payload(entries, exe, [&](Bytes bytes) -> std::optional<Error> {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return std::nullopt;
    });
    if (error) return failed<std::vector<uint8_t>>(*error);
    return succeeded(std::move(out));
}

CompressOptions options(int quality, int window, unsigned jobs) {
    CompressOptions options;
    options.quality = quality;
    options.window = window;
    options.jobs = jobs;
    return options;
}

Outcome<std::vector<uint8_t>> pack_inputs(const Outcome<std::vector<InputFile>>& inputs, CompressOptions options = {},
                                          std::string_view exe = DEFAULT_EXE) {
    if (!inputs.ok()) return failed<std::vector<uint8_t>>(*inputs.error);
    Outcome<PackedEntries> packed = pack_entries(inputs.value, options);
    if (!packed.ok()) return failed<std::vector<uint8_t>>(*packed.error);
    return encode_payload(packed.value.entries, exe);
}

TEST(Packer, RoundTripsThroughTheLaunchersReader) {
    TempDir dir;
    const fs::path app = dir.path / "app";
    const std::string big = sample_content(300000, 7);
    write_file(app / "quillbox.exe", "MZ launcher");
    write_file(app / "empty.txt", "");
    write_file(app / "Zeta.txt", "upper case sorts before '\\' and lower case");
    write_file(app / "sub" / "deeper" / "lib.dll", big);
    write_file(app / "sub" / "\xC3\xA9t\xC3\xA9.txt", "non-ASCII name");
    write_file(dir.path / "outside" / "hidden.txt", "reached only through a folder link");
    fs::create_symlink(app / "quillbox.exe", app / "sub" / "link.exe");
    fs::create_directory_symlink(dir.path / "outside", app / "linked_dir");

    struct Case {
        const char* what;
        Outcome<std::vector<InputFile>> inputs;
        std::vector<std::pair<std::string, std::string>> expected;  // name, content, in payload order
    };
    const Case cases[] = {
        {"folder: sorted by bytes, file links followed, folder links not entered",
         collect_folder(app),
         {{".\\Zeta.txt", "upper case sorts before '\\' and lower case"},
          {".\\empty.txt", ""},
          {".\\quillbox.exe", "MZ launcher"},
          {".\\sub\\deeper\\lib.dll", big},
          {".\\sub\\link.exe", "MZ launcher"},
          {".\\sub\\\xC3\xA9t\xC3\xA9.txt", "non-ASCII name"}}},
        {"file list: base names in the order given",
         collect_files({app / "sub" / "deeper" / "lib.dll", app / "empty.txt", app / "quillbox.exe"}),
         {{".\\lib.dll", big}, {".\\empty.txt", ""}, {".\\quillbox.exe", "MZ launcher"}}},
    };
    std::vector<fs::path> skipped_links;
    ASSERT_TRUE(collect_folder(app, &skipped_links).ok());
    EXPECT_EQ(skipped_links, std::vector<fs::path>{app / "linked_dir"}) << "each link not entered is named";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome<std::vector<uint8_t>> payload = pack_inputs(c.inputs);
        ASSERT_TRUE(payload.ok()) << describe(*payload.error);
        Outcome<BinReader> parsed = parse_payload(Bytes(payload.value.data(), payload.value.size()));
        ASSERT_TRUE(parsed.ok()) << describe(*parsed.error);
        EXPECT_EQ(parsed.value.exe, DEFAULT_EXE);
        ASSERT_EQ(parsed.value.files.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            const BinEntry& entry = parsed.value.files[i];
            EXPECT_EQ(entry.name, c.expected[i].first);
            Outcome<ChunkedBytes> plain = decompress_stream(entry.data);
            ASSERT_TRUE(plain.ok()) << entry.name << ": " << describe(*plain.error);
            EXPECT_EQ(joined_text(plain.value), c.expected[i].second) << entry.name;
            EXPECT_TRUE(digest_matches(entry.md5, md5_hex(plain.value.views()))) << entry.name;
        }
    }
}

TEST(Packer, OutputDependsOnlyOnInput) {
    TempDir dir;
    for (unsigned i = 0; i < 12; ++i) {
        write_file(dir.path / (std::to_string(i) + ".bin"), sample_content(2000 + i * 1500, i + 3));
    }

    const Outcome<std::vector<uint8_t>> serial = pack_inputs(collect_folder(dir.path), options(11, 22, 1));
    ASSERT_TRUE(serial.ok()) << describe(*serial.error);
    for (unsigned jobs : {1u, 2u, 5u, 64u}) {
        const Outcome<std::vector<uint8_t>> again = pack_inputs(collect_folder(dir.path), options(11, 22, jobs));
        ASSERT_TRUE(again.ok()) << describe(*again.error);
        EXPECT_TRUE(again.value == serial.value) << "jobs " << jobs;
    }
}

TEST(Packer, EncodesTheExactLayout) {
    const std::string digest = "0123456789abcdef0123456789abcdef";
    struct Case {
        const char* what;
        std::vector<PackedEntry> entries;
        std::string exe;
        std::string expected;
    };
    const Case cases[] = {
        {"no entries", {}, ".\\quillbox.exe", "quillboxquillbox.\\quillbox.exe"},
        // The launch path need not name an entry; the packer only warns.
        {"launch path naming no entry",
         {PackedEntry{".\\a", {1, 2, 3}, digest, 3}},
         ".\\missing.exe",
         std::string("quillbox\0\0\0\3.\\a\0\0\0\3\1\2\3", 22) + digest + "quillbox.\\missing.exe"},
        {"lengths are big-endian",
         {PackedEntry{std::string(0x102, 'n'), std::vector<uint8_t>(0x10203, 9), digest, 0}},
         "",
         std::string("quillbox\0\0\1\2", 12) + std::string(0x102, 'n') + std::string("\0\1\2\3", 4) +
             std::string(0x10203, '\x09') + digest + "quillbox"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome<std::vector<uint8_t>> payload = encode_payload(c.entries, c.exe);
        ASSERT_TRUE(payload.ok()) << describe(*payload.error);
        EXPECT_TRUE(text_of(payload.value) == c.expected);
    }
}

TEST(Packer, ReportsWhatCannotBePacked) {
    TempDir dir;
    write_file(dir.path / "a" / "x.dll", "1");
    write_file(dir.path / "b" / "x.dll", "2");
    write_file(dir.path / "plain.txt", "text");
    write_file(dir.path / "slash" / "a\\b.txt", "");
    write_file(dir.path / "colon" / "a:b.txt", "");
    write_file(dir.path / "dot" / "sub." / "x.txt", "");
    write_file(dir.path / "locked" / "secret.txt", "x");
    ::chmod((dir.path / "locked" / "secret.txt").c_str(), 0);
    // Root (or CAP_DAC_OVERRIDE) reads files whatever their mode: that row is skipped then.
    const bool mode_blocks_reading = ::access((dir.path / "locked" / "secret.txt").c_str(), R_OK) != 0;
    fs::create_directories(dir.path / "dangling");
    fs::create_symlink(dir.path / "nowhere", dir.path / "dangling" / "gone.txt");

    struct Case {
        const char* what;
        std::function<Outcome<std::vector<uint8_t>>()> pack;
        std::string message;  // part of the expected error
        bool applicable = true;
    };
    const Case cases[] = {
        {"missing folder", [&] { return pack_inputs(collect_folder(dir.path / "none")); }, "No such file or directory"},
        {"folder is a file", [&] { return pack_inputs(collect_folder(dir.path / "plain.txt")); }, "Not a directory"},
        {"missing file in list",
         [&] {
             return pack_inputs(collect_files({dir.path / "plain.txt", dir.path / "none"}));
         },
         "does not exist"},
        {"folder in list", [&] { return pack_inputs(collect_files({dir.path / "a"})); }, "is not a regular file"},
        {"duplicate base names",
         [&] {
             return pack_inputs(collect_files({dir.path / "a/x.dll", dir.path / "b/x.dll"}));
         },
         "is the same file on Windows"},
        {"backslash in a file name", [&] { return pack_inputs(collect_folder(dir.path / "slash")); },
         "folder separator"},
        // One row for the name rules, whose own table is in entry_names_test.cpp.
        {"name with a ':'", [&] { return pack_inputs(collect_folder(dir.path / "colon")); }, "a drive or a stream"},
        {"folder name ending in a dot", [&] { return pack_inputs(collect_folder(dir.path / "dot")); },
         "which Windows drops"},
        {"dangling link", [&] { return pack_inputs(collect_folder(dir.path / "dangling")); }, "cannot follow link"},
        {"unreadable file", [&] { return pack_inputs(collect_folder(dir.path / "locked")); }, "Permission denied",
         mode_blocks_reading},
        // Reading /proc/self/mem from offset 0 fails with EIO for every user.
        {"read error", [&] { return pack_inputs(collect_files({"/proc/self/mem"})); }, "cannot read"},
        {"quality out of range",
         [&] { return pack_inputs(collect_files({dir.path / "plain.txt"}), options(12, 22, 1)); }, "quality 12"},
        {"window out of range",
         [&] { return pack_inputs(collect_files({dir.path / "plain.txt"}), options(11, 25, 1)); }, "window 25"},
        {"launch path not UTF-8", [&] { return pack_inputs(collect_files({dir.path / "plain.txt"}), {}, "\xFF.exe"); },
         "launch path is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.applicable) continue;
        Outcome<std::vector<uint8_t>> payload = c.pack();
        ASSERT_FALSE(payload.ok());
        EXPECT_NE(describe(*payload.error).find(c.message), std::string::npos) << describe(*payload.error);
    }
}

TEST(Packer, PayloadSizeStopsAtThirtyTwoBits) {
    const uint64_t entry_overhead = 4 + 4 + DIGEST_SIZE;
    const uint64_t fixed = 2 * BIN_MAGIC.size();
    struct Case {
        const char* what;
        std::vector<EntrySize> entries;
        uint64_t exe;
        std::optional<uint64_t> size;  // nothing: refused
    };
    const Case cases[] = {
        {"empty", {}, 0, fixed},
        {"exactly 4 GiB - 1", {{1, FIELD_LIMIT - fixed - entry_overhead - 1 - 5}}, 5, FIELD_LIMIT},
        {"one byte more through the launch path", {{1, FIELD_LIMIT - fixed - entry_overhead - 1 - 5}}, 6, std::nullopt},
        {"two entries together too long", {{0, FIELD_LIMIT / 2}, {0, FIELD_LIMIT / 2}}, 0, std::nullopt},
        {"name of 2^32 bytes", {{FIELD_LIMIT + 1, 0}}, 0, std::nullopt},
        {"data of 2^32 bytes", {{0, FIELD_LIMIT + 1}}, 0, std::nullopt},
        {"huge launch path", {}, UINT64_MAX, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome<uint64_t> size = payload_size(c.entries, c.exe);
        EXPECT_EQ(size.ok(), c.size.has_value());
        if (size.ok() && c.size) {
            EXPECT_EQ(size.value, *c.size);
        }
    }
}

TEST(Packer, ReplacesTheOutputOnlyWhenComplete) {
    struct Case {
        const char* what;
        bool fill_fails;
        std::string expected;  // the target's content afterwards
    };
    const Case cases[] = {
        {"success replaces", false, "new content"},
        {"failure keeps the old file", true, "old content"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path target = dir.path / "payload.bin";
        write_file(target, "old content");
        std::optional<Error> error = write_file_atomically(target, [&](const ByteSink& sink) -> std::optional<Error> {
            if (std::optional<Error> e = sink(view_of("new "))) return e;
            if (c.fill_fails) return plain_error("interrupted");
            return sink(view_of("content"));
        });
        EXPECT_EQ(error.has_value(), c.fill_fails);
        EXPECT_EQ(read_text(target), c.expected);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1)
            << "temporary file left";
    }
    TempDir dir;
    EXPECT_TRUE(write_file_atomically(dir.path / "no" / "folder", [](const ByteSink&) { return std::nullopt; }));
}

TEST(Packer, DecodesAStreamsStartAloneAndRefusesOneThatDoesNotDecode) {
    std::string content;
    for (int i = 0; content.size() < 300000; ++i) content += std::to_string(i * 7919) + ",";
    const Outcome<std::vector<uint8_t>> stream = compress_content(view_of(content), 5, 18);
    ASSERT_TRUE(stream.ok());
    const Bytes view(stream.value.data(), stream.value.size());
    for (size_t limit : {size_t{0}, size_t{1}, size_t{65536}, content.size(), content.size() + 10}) {
        const Outcome<std::vector<uint8_t>> start = decompress_prefix(view, limit);
        ASSERT_TRUE(start.ok()) << limit;
        EXPECT_EQ(std::string(start.value.begin(), start.value.end()), content.substr(0, limit)) << limit;
    }
    EXPECT_FALSE(decompress_prefix(view.first(view.size() / 2), content.size()).ok());
}

}  // namespace
}  // namespace quillbox::pack
