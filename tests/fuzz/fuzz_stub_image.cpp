// The image code on arbitrary bytes: find_section in both layouts must answer
// or report, never read outside; and for every stub the packer accepts, the
// launcher it makes must be one Windows maps (sections one after another,
// SizeOfImage where the last ends), carry the checksum of its own bytes, and
// give back exactly the payload put in, from the file and as mapped. Building
// again on that launcher must replace the payload the same way. With a new
// icon and version block, the same holds, and the resources read back from the
// launcher are the stub's with those changes; with the exit-code setting, the
// launcher reads it back in both layouts.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bin_reader/exit_code_setting.h"
#include "bin_reader/pe_section.h"
#include "packer/image_checks.h"
#include "fuzz/require.h"
#include "version_block.h"

namespace {

using namespace quillbox;
using fuzz::require;

constexpr uint64_t MAPPED_LIMIT = 64 << 20;  // larger images are only checked as files

bool in_bounds(Bytes found, Bytes image) {
    return found.empty() ||
           (found.data() >= image.data() && found.data() + found.size() <= image.data() + image.size());
}

// The file as the loader would map it: SizeOfImage rounded up to the section
// alignment, headers, then each section's data at its address, zeros elsewhere.
std::vector<uint8_t> mapped_image(const std::vector<uint8_t>& file) {
    const size_t optional = testing::optional_header_of(file);
    const uint64_t alignment = testing::image_u32(file, optional + 32);
    const uint64_t image_size = (testing::image_u32(file, optional + 56) + alignment - 1) / alignment * alignment;
    std::vector<uint8_t> image(image_size, 0);
    const size_t headers = std::min<size_t>({testing::image_u32(file, optional + 60), file.size(), image.size()});
    std::copy_n(file.begin(), headers, image.begin());
    const size_t nt = testing::image_u32(file, 0x3C);
    const size_t table = optional + testing::image_u16(file, nt + 20);
    for (size_t i = 0; i < testing::image_u16(file, nt + 6); ++i) {
        const size_t at = table + 40 * i;
        const uint64_t address = testing::image_u32(file, at + 12);
        const uint64_t raw_offset = testing::image_u32(file, at + 20);
        uint64_t size = std::min(testing::image_u32(file, at + 8), testing::image_u32(file, at + 16));
        size = std::min<uint64_t>(size, file.size() - std::min<uint64_t>(raw_offset, file.size()));
        size = std::min<uint64_t>(size, image.size() - std::min<uint64_t>(address, image.size()));
        std::copy_n(file.begin() + raw_offset, size, image.begin() + address);
    }
    return image;
}

void check_built(Bytes stub, Bytes payload, const pack::ResourceChanges& changes, Bytes exit_setting = {}) {
    Outcome<std::vector<uint8_t>> built = testing::build_image(stub, payload, changes, exit_setting);
    if (!built.ok()) return;
    const std::vector<uint8_t>& out = built.value;
    const Bytes view(out.data(), out.size());
    require(!testing::loader_layout_problem(out));
    require(testing::image_u32(out, testing::optional_header_of(out) + 64) == testing::reference_checksum(out));
    const ExitCodeMode mode = exit_setting.empty() ? ExitCodeMode::zero : ExitCodeMode::app;
    Outcome<ExitCodeMode> setting = read_exit_code_setting(view, ImageLayout::file);
    require(setting.ok() && setting.value == mode);
    Outcome<Bytes> from_file = find_section(view, ImageLayout::file, PAYLOAD_SECTION);
    require(from_file.ok() &&
            std::equal(from_file.value.begin(), from_file.value.end(), payload.begin(), payload.end()));
    if (testing::image_u32(out, testing::optional_header_of(out) + 56) <= MAPPED_LIMIT) {
        const std::vector<uint8_t> mapped = mapped_image(out);
        Outcome<Bytes> from_memory =
            find_section(Bytes(mapped.data(), mapped.size()), ImageLayout::mapped, PAYLOAD_SECTION);
        require(from_memory.ok() &&
                std::equal(from_memory.value.begin(), from_memory.value.end(), payload.begin(), payload.end()));
        setting = read_exit_code_setting(Bytes(mapped.data(), mapped.size()), ImageLayout::mapped);
        require(setting.ok() && setting.value == mode);
    }
    // Building again on the launcher replaces its payload: the same bytes as
    // building on the stub, whatever payload it carried before.
    const Bytes other = payload.first(payload.size() / 2);
    Outcome<std::vector<uint8_t>> again = testing::build_image(view, other, changes, exit_setting);
    Outcome<std::vector<uint8_t>> fresh = testing::build_image(stub, other, changes, exit_setting);
    require(again.ok() && fresh.ok() && again.value == fresh.value);
    // The resources read back are the stub's with the changes made.
    if (changes.any()) {
        Outcome<std::vector<pack::Resource>> wanted = pack::image_resources(stub);
        if (wanted.ok()) wanted = pack::changed_resources(std::move(wanted.value), changes);
        const Outcome<std::vector<pack::Resource>> found = pack::image_resources(view);
        require(wanted.ok() && found.ok() && testing::same_resources(found.value, wanted.value));
    }
}

// An icon of one 1x1 32-bit bitmap and a version block with one string.
pack::ResourceChanges resource_changes() {
    pack::IconImage image{1, 1, 0, 32, false, std::vector<uint8_t>(48, 0)};
    image.data[0] = 40;  // header size
    image.data[4] = 1;   // width
    image.data[8] = 2;   // height, mask included
    image.data[12] = 1;  // planes
    image.data[14] = 32;
    pack::VersionInfo info{{1, 2, 3, 4}, {1, 2, 3, 4}, {{pack::VERSION_LANGUAGE, {{"CompanyName", "quillbox"}}}}};
    return pack::ResourceChanges{std::vector<pack::IconImage>{image}, pack::version_block(info).value};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes input(data, size);
    for (ImageLayout layout : {ImageLayout::file, ImageLayout::mapped}) {
        Outcome<Bytes> found = find_section(input, layout, PAYLOAD_SECTION);
        require(!found.ok() || in_bounds(found.value, input));
        (void)read_exit_code_setting(input, layout);  // answers or reports, never reads outside
    }
    // The payload: a piece of the input itself, its length chosen by the input.
    const size_t length = size == 0 ? 0 : (data[size / 2] * 37u + size) % std::min<size_t>(size, 9000);
    static const pack::ResourceChanges changes = resource_changes();
    check_built(input, input.first(length), {});
    // The resource writer as well: with a new icon and a version block, and
    // with the version block alone (for stubs without the icon group).
    check_built(input, input.first(length), changes);
    check_built(input, input.first(length), pack::ResourceChanges{std::nullopt, changes.version});
    static const std::vector<uint8_t> app = exit_code_setting_bytes(ExitCodeMode::app);
    check_built(input, input.first(length), changes, Bytes(app.data(), app.size()));
    return 0;
}
