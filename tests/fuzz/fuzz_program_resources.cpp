// The reader of another program's icon and version block on arbitrary bytes:
// it answers or reports, never reads outside; an icon it takes holds 1 to 256
// images; a version block it takes is written and read back unchanged. Where
// the input is also a stub the packer accepts, the launcher built with that
// icon and version block gives both back exactly, read as a program in turn.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "packer/image_checks.h"
#include "program_resources.h"
#include "fuzz/require.h"

namespace {

using namespace quillbox;
using fuzz::require;

bool same_version(const pack::VersionInfo& a, const pack::VersionInfo& b) {
    if (a.tables.size() != b.tables.size()) return false;
    for (size_t i = 0; i < a.tables.size(); ++i) {
        if (a.tables[i].language != b.tables[i].language || a.tables[i].strings != b.tables[i].strings) return false;
    }
    return a.file_version == b.file_version && a.product_version == b.product_version &&
           a.translations == b.translations && a.flags == b.flags && a.flags_mask == b.flags_mask;
}

bool same_images(const std::vector<pack::IconImage>& a, const std::vector<pack::IconImage>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const pack::IconImage& x, const pack::IconImage& y) {
        return x.width == y.width && x.height == y.height && x.colors == y.colors && x.bit_count == y.bit_count &&
               x.png == y.png && x.data == y.data;
    });
}

// The block `build --version-from` writes for the program's version: when it
// fits, it reads back as what was copied.
std::optional<std::vector<uint8_t>> copied_version(Bytes input) {
    const Outcome<pack::VersionInfo> version = pack::program_version(input);
    if (!version.ok()) return std::nullopt;
    const pack::VersionInfo info = pack::with_version_options(version.value, std::nullopt, {});
    Outcome<std::vector<uint8_t>> block = pack::version_block(info);
    if (!block.ok()) return std::nullopt;
    const Outcome<pack::VersionInfo> back = pack::read_version_block(Bytes(block.value.data(), block.value.size()));
    require(back.ok() && same_version(back.value, info));
    return std::move(block.value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes input(data, size);
    Outcome<std::vector<pack::IconImage>> icon = pack::program_icon(input);
    require(!icon.ok() || (!icon.value.empty() && icon.value.size() <= pack::ICO_IMAGE_LIMIT));
    const std::optional<std::vector<uint8_t>> version = copied_version(input);
    if (!icon.ok() && !version) return 0;

    // The input as the stub, carrying what was taken from it.
    pack::ResourceChanges changes;
    if (icon.ok()) changes.icon = std::move(icon.value);
    changes.version = version;
    const Bytes payload = input.first(std::min<size_t>(size, 512));
    const Outcome<std::vector<uint8_t>> built = testing::build_image(input, payload, changes);
    if (!built.ok()) return 0;
    const Bytes launcher(built.value.data(), built.value.size());
    if (changes.icon) {
        const Outcome<std::vector<pack::IconImage>> again = pack::program_icon(launcher);
        require(again.ok() && same_images(again.value, *changes.icon));
    }
    if (changes.version) require(copied_version(launcher) == changes.version);
    return 0;
}
