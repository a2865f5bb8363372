// The .ico reader on arbitrary bytes: it answers or reports, never reads
// outside the input; every image it accepts is a piece of the input whose own
// header agrees with the directory, and an .ico written again from the images
// it returned reads back as the same images.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/require.h"
#include "icon_file.h"

namespace {

using namespace quillbox;
using fuzz::require;

void put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An .ico file of the images, packed one after another.
std::vector<uint8_t> ico_of(const std::vector<pack::IconImage>& images) {
    std::vector<uint8_t> out;
    put(out, 0, 2);
    put(out, 1, 2);
    put(out, static_cast<uint32_t>(images.size()), 2);
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const pack::IconImage& image : images) {
        out.insert(out.end(), {image.width, image.height, image.colors, 0});
        put(out, 1, 2);
        put(out, image.bit_count, 2);
        put(out, static_cast<uint32_t>(image.data.size()), 4);
        put(out, offset, 4);
        offset += static_cast<uint32_t>(image.data.size());
    }
    for (const pack::IconImage& image : images) out.insert(out.end(), image.data.begin(), image.data.end());
    return out;
}

bool same(const pack::IconImage& a, const pack::IconImage& b) {
    return a.width == b.width && a.height == b.height && a.colors == b.colors && a.bit_count == b.bit_count &&
           a.png == b.png && a.data == b.data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes input(data, size);
    const Outcome<std::vector<pack::IconImage>> images = pack::parse_ico(input);
    if (!images.ok()) {
        require(!images.error->text().empty());
        return 0;
    }
    require(!images.value.empty());
    for (const pack::IconImage& image : images.value) {
        require(!image.data.empty() && image.data.size() <= size && image.bit_count != 0);
    }
    const std::vector<uint8_t> group = pack::icon_group(images.value, 1);
    require(group.size() == 6 + 14 * images.value.size());
    const std::vector<uint8_t> again = ico_of(images.value);
    const Outcome<std::vector<pack::IconImage>> reread = pack::parse_ico(Bytes(again.data(), again.size()));
    require(reread.ok() && reread.value.size() == images.value.size());
    for (size_t i = 0; i < images.value.size(); ++i) require(same(reread.value[i], images.value[i]));
    return 0;
}
