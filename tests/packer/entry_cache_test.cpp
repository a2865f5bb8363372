#include "entry_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "payload_writer.h"
#include "temp_folder.h"

namespace quillbox::pack {
namespace {

namespace fs = std::filesystem;

using testing::TempDir;
using testing::write_file;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string content_of(size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * seed + (i >> 5)) % 199);
    return out;
}

struct Packed {
    std::string payload;
    size_t from_cache = 0;
    std::optional<Error> cache_problem;
};

Packed pack_folder(const fs::path& folder, std::optional<fs::path> cache, int quality = 5) {
    const Outcome<std::vector<InputFile>> inputs = collect_folder(folder);
    if (!inputs.ok()) throw std::runtime_error(describe(*inputs.error));
    CompressOptions options;
    options.quality = quality;
    options.jobs = 2;
    options.cache = std::move(cache);
    Outcome<PackedEntries> packed = pack_entries(inputs.value, options);
    if (!packed.ok()) throw std::runtime_error(describe(*packed.error));
    Packed out{"", packed.value.from_cache, packed.value.cache_problem};
    write_payload(packed.value.entries, ".\\a.dll", [&](Bytes bytes) -> std::optional<Error> {
        out.payload.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return std::nullopt;
    });
    return out;
}

// The record of the file whose content is `content` at quality 5.
fs::path record_of(const fs::path& cache, std::string_view content) {
    const Digest256 key = cache_key(view_of(content), 5, DEFAULT_WINDOW, encoder_fingerprint(5, DEFAULT_WINDOW));
    return cache / record_name(key);
}

// Each step changes the folder or the cache, packs with the cache and without,
// and expects the same payload, with this many entries from the cache.
TEST(EntryCache, OutputIsTheSameWithAndWithoutIt) {
    TempDir dir;
    const fs::path app = dir.path / "app";
    const fs::path cache = dir.path / "cache";
    const std::string b = content_of(70000, 11);
    write_file(app / "a.dll", content_of(90000, 7));
    write_file(app / "b.dll", b);
    write_file(app / "sub" / "c.txt", content_of(3000, 3));
    write_file(app / "empty.txt", "");

    auto damage = [&](std::function<void(std::string&)> edit) {
        return [&, edit] {
            std::string record = read_file(record_of(cache, b));
            edit(record);
            write_file(record_of(cache, b), record);
        };
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        size_t from_cache;
        int quality = 5;
    };
    const Step steps[] = {
        {"cold", [] {}, 0},
        {"warm", [] {}, 4},
        {"one file changed", [&] { write_file(app / "sub" / "c.txt", content_of(3000, 5)); }, 3},
        {"another quality", [] {}, 0, 6},
        {"record truncated", damage([](std::string& r) { r.resize(r.size() - 1); }), 3},
        {"a byte of the stream flipped", damage([](std::string& r) { r[r.size() / 2] ^= 1; }), 3},
        {"a byte of the stored key flipped", damage([](std::string& r) { r[20] ^= 1; }), 3},
        {"stream length says more", damage([](std::string& r) { r[48] ^= 1; }), 3},
        {"record emptied", damage([](std::string& r) { r.clear(); }), 3},
        {"another file's whole record in its place",
         damage([&](std::string& r) { r = read_file(record_of(cache, content_of(90000, 7))); }), 3},
        // Key, length and digest agree, as anyone who can write the folder can make them.
        {"another file's stream under this key, planted self-consistent", damage([&](std::string& r) {
             const std::string key = r.substr(16, 32);
             r = read_file(record_of(cache, content_of(90000, 7)));
             r.replace(16, 32, key);
         }),
         3},
        {"records rewritten by the runs before", [] {}, 4},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const Packed cached = pack_folder(app, cache, step.quality);
        const Packed plain = pack_folder(app, std::nullopt, step.quality);
        EXPECT_TRUE(cached.payload == plain.payload);
        EXPECT_EQ(cached.from_cache, step.from_cache);
        EXPECT_FALSE(cached.cache_problem) << describe(*cached.cache_problem);
    }
    // Builds whose encoders compress differently never share a record.
    Digest256 other_encoder = encoder_fingerprint(5, DEFAULT_WINDOW);
    other_encoder[0] ^= 1;
    EXPECT_NE(cache_key(view_of(b), 5, DEFAULT_WINDOW, other_encoder),
              cache_key(view_of(b), 5, DEFAULT_WINDOW, encoder_fingerprint(5, DEFAULT_WINDOW)));
}

// A cache that cannot be made or written changes nothing but the time.
TEST(EntryCache, AnUnusableFolderOnlySlowsPacking) {
    TempDir dir;
    write_file(dir.path / "app" / "a.dll", content_of(20000, 7));
    write_file(dir.path / "not-a-folder", "");
    const Packed plain = pack_folder(dir.path / "app", std::nullopt);
    for (const fs::path& cache : {dir.path / "not-a-folder", dir.path / "not-a-folder" / "below"}) {
        SCOPED_TRACE(cache.string());
        const Packed cached = pack_folder(dir.path / "app", cache);
        EXPECT_TRUE(cached.payload == plain.payload);
        ASSERT_TRUE(cached.cache_problem);
        EXPECT_NE(describe(*cached.cache_problem).find("not-a-folder"), std::string::npos);
    }
}

TEST(EntryCache, EvictsTheLeastRecentlyUsedPastTheBound) {
    const std::string r1 = std::string(64, '1') + ".qbc", r2 = std::string(64, '2') + ".qbc",
                      r3 = std::string(64, '3') + ".qbc";
    const int64_t hour = int64_t{3600} * 1000000000, now = 100 * hour;
    struct Case {
        const char* what;
        std::vector<ListedFile> files;
        uint64_t limit;
        std::vector<std::string> evicted;
    };
    const Case cases[] = {
        {"within the bound", {{r1, 10, 1}, {r2, 10, 2}}, 20, {}},
        {"oldest use first, until within", {{r3, 10, 3}, {r1, 10, 1}, {r2, 10, 2}}, 15, {r1, r2}},
        {"same time: by name", {{r2, 10, 5}, {r1, 10, 5}}, 10, {r1}},
        {"a temporary file being written counts, stays",
         {{r1, 10, now}, {".quillbox-77-0.tmp", 10, now - 1}},
         15,
         {r1}},
        {"a temporary file left an hour goes",
         {{".quillbox-77-0.tmp", 10, now - hour - 1}},
         100,
         {".quillbox-77-0.tmp"}},
        {"files not the cache's stay, count nothing", {{"notes.txt", 1000, 0}, {r1, 10, 1}}, 10, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(files_to_evict(c.files, c.limit, now), c.evicted);
    }

    // And on a folder: what a build used last stays.
    TempDir dir;
    const fs::path cache = dir.path / "cache";
    const std::string used_before = content_of(50000, 7);
    std::string used_last = used_before;
    used_last[0] ^= 1;
    write_file(dir.path / "old" / "a.dll", used_before);
    pack_folder(dir.path / "old", cache);
    write_file(dir.path / "app" / "a.dll", used_last);
    const Outcome<std::vector<InputFile>> inputs = collect_folder(dir.path / "app");
    ASSERT_TRUE(inputs.ok());
    CompressOptions options;
    options.quality = 5;
    options.cache = cache;
    // Room for one record of this size, not two.
    options.cache_limit = fs::file_size(record_of(cache, used_before)) * 3 / 2;
    ASSERT_TRUE(pack_entries(inputs.value, options).ok());
    EXPECT_FALSE(fs::exists(record_of(cache, used_before)));
    EXPECT_TRUE(fs::exists(record_of(cache, used_last)));
}

}  // namespace
}  // namespace quillbox::pack
