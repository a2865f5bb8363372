// The resource directory: a section's tree read into a list of resources, and
// a new section written for a list of resources.
#include "resource_tree.h"

#include <algorithm>

#include "bin_reader/pe_section.h"
#include "base/bytes.h"

namespace quillbox::pack {
namespace {

using pe::inside;

constexpr uint32_t NAME_OR_DIRECTORY = 0x80000000;
constexpr size_t TABLE_HEADER = 16;
constexpr size_t TABLE_ENTRY = 8;
constexpr size_t DATA_ENTRY = 16;

struct DirectoryReader {
    Bytes section;
    uint64_t section_rva = 0;
    uint64_t base = 0;  // the directory's offset in the section
    // Entries and data read so far: a directory whose tables or data are shared
    // could otherwise stand for far more than the section holds.
    mutable uint64_t entries_read = 0;
    mutable uint64_t data_read = 0;

    Error damaged(const std::string& why) const { return invalid_data("the resource directory is damaged: " + why); }

    Outcome<ResourceKey> key(uint32_t field) const {
        ResourceKey out;
        if ((field & NAME_OR_DIRECTORY) == 0) {
            out.id = field;
            return succeeded(out);
        }
        const uint64_t at = base + (field & ~NAME_OR_DIRECTORY);
        if (!inside(at, 2, section.size())) return failed<ResourceKey>(damaged("a name lies outside the section"));
        const size_t length = read_u16le(section, at);
        if (length == 0) return failed<ResourceKey>(damaged("an empty name"));
        if (!inside(at + 2, 2 * uint64_t{length}, section.size())) {
            return failed<ResourceKey>(damaged("a name lies outside the section"));
        }
        for (size_t i = 0; i < length; ++i) out.name.push_back(char16_t(read_u16le(section, at + 2 + 2 * i)));
        return succeeded(out);
    }

    // The entries of the table at `offset`: key field and target field.
    Outcome<std::vector<std::pair<uint32_t, uint32_t>>> entries(uint64_t offset) const {
        using Result = std::vector<std::pair<uint32_t, uint32_t>>;
        const uint64_t at = base + offset;
        if (!inside(at, TABLE_HEADER, section.size()))
            return failed<Result>(damaged("a table lies outside the section"));
        const uint64_t count = uint64_t{read_u16le(section, at + 12)} + read_u16le(section, at + 14);
        if (!inside(at + TABLE_HEADER, TABLE_ENTRY * count, section.size()))
            return failed<Result>(damaged("a table lies outside the section"));
        entries_read += count;
        if (entries_read > section.size() / 8) return failed<Result>(damaged("its tables are shared"));
        Result out;
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t entry = at + TABLE_HEADER + TABLE_ENTRY * i;
            out.emplace_back(read_u32le(section, entry), read_u32le(section, entry + 4));
        }
        return succeeded(std::move(out));
    }

    std::optional<Error> leaf(uint32_t target, Resource& out) const {
        const uint64_t at = base + target;
        if ((target & NAME_OR_DIRECTORY) != 0 || !inside(at, DATA_ENTRY, section.size())) {
            return damaged("a data entry lies outside the section or is a table");
        }
        const uint64_t rva = read_u32le(section, at);
        const uint64_t size = read_u32le(section, at + 4);
        out.codepage = read_u32le(section, at + 8);
        if (rva < section_rva || !inside(rva - section_rva, size, section.size())) {
            return damaged("the data of a resource lies outside the section");
        }
        data_read += size;
        if (data_read > section.size()) return damaged("its data is shared");
        const Bytes data = section.subspan(rva - section_rva, size);
        out.data.assign(data.begin(), data.end());
        return std::nullopt;
    }
};

bool key_less(const ResourceKey& a, const ResourceKey& b) {
    const bool a_named = !a.name.empty();
    const bool b_named = !b.name.empty();
    if (a_named != b_named) return a_named;
    return a_named ? a.name < b.name : a.id < b.id;
}

}  // namespace

bool resource_less(const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return key_less(a.type, b.type);
    if (!(a.name == b.name)) return key_less(a.name, b.name);
    return a.language < b.language;
}

std::string key_text(const ResourceKey& key) {
    if (key.name.empty()) return std::to_string(key.id);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "\"" + text.
    std::string text = "\"";
    text += utf16_to_utf8_lossy(key.name);
    text += '"';
    return text;
}

Outcome<std::vector<Resource>> read_resources(Bytes section, uint64_t section_rva, uint64_t directory_rva) {
    using Result = std::vector<Resource>;
    DirectoryReader reader{section, section_rva, directory_rva - section_rva};
    if (directory_rva < section_rva) return failed<Result>(reader.damaged("it starts before its section"));
    Result out;
    // Three levels, type, name and language, each target a table but the last.
    const auto types = reader.entries(0);
    if (!types.ok()) return failed<Result>(*types.error);
    for (const auto& [type_field, names_table] : types.value) {
        const Outcome<ResourceKey> type = reader.key(type_field);
        if (!type.ok()) return failed<Result>(*type.error);
        if ((names_table & NAME_OR_DIRECTORY) == 0) return failed<Result>(reader.damaged("a type without a table"));
        const auto names = reader.entries(names_table & ~NAME_OR_DIRECTORY);
        if (!names.ok()) return failed<Result>(*names.error);
        for (const auto& [name_field, languages_table] : names.value) {
            const Outcome<ResourceKey> name = reader.key(name_field);
            if (!name.ok()) return failed<Result>(*name.error);
            if ((languages_table & NAME_OR_DIRECTORY) == 0)
                return failed<Result>(reader.damaged("a name without a table"));
            const auto languages = reader.entries(languages_table & ~NAME_OR_DIRECTORY);
            if (!languages.ok()) return failed<Result>(*languages.error);
            for (const auto& [language, data] : languages.value) {
                if ((language & NAME_OR_DIRECTORY) != 0) return failed<Result>(reader.damaged("a named language"));
                Resource resource{type.value, name.value, language, 0, {}};
                if (std::optional<Error> error = reader.leaf(data, resource)) return failed<Result>(*error);
                out.push_back(std::move(resource));
            }
        }
    }
    std::stable_sort(out.begin(), out.end(), resource_less);
    for (size_t i = 1; i < out.size(); ++i) {
        if (!resource_less(out[i - 1], out[i])) {
            return failed<Result>(
                reader.damaged("resource " + key_text(out[i].type) + "/" + key_text(out[i].name) + " is listed twice"));
        }
    }
    return succeeded(std::move(out));
}

// ---- Writing: the layout of the tables, the offsets of every piece, then the
// tables, the names and the data in their places.

namespace {

// One table of the directory: the root, one per type or one per (type, name),
// covering the resources [first, end) of the sorted list.
struct Table {
    size_t first = 0;
    size_t end = 0;
    int level = 0;  // 0 root, 1 type, 2 name
    size_t offset = 0;
};

using Runs = std::vector<std::pair<size_t, size_t>>;

// The children of a table: runs of resources that share the next key.
Runs runs(const std::vector<Resource>& resources, const Table& table) {
    auto same = [&](size_t a, size_t b) {
        return resources[a].type == resources[b].type && (table.level < 1 || resources[a].name == resources[b].name);
    };
    Runs out;
    for (size_t i = table.first; i < table.end;) {
        size_t j = i + 1;
        while (table.level < 2 && j < table.end && same(i, j)) ++j;
        out.emplace_back(i, j);
        i = j;
    }
    return out;
}

// The tables, breadth first.
std::vector<Table> table_layout(const std::vector<Resource>& resources) {
    std::vector<Table> tables{{0, resources.size(), 0, 0}};
    for (size_t t = 0; t < tables.size(); ++t) {
        if (tables[t].level == 2) continue;
        for (const auto& [first, end] : runs(resources, tables[t]))
            tables.push_back({first, end, tables[t].level + 1, 0});
    }
    return tables;
}

// Where every piece of the section goes: the tables, then the data entries,
// the names (each once, in the order of first use) and the data.
struct SectionLayout {
    std::vector<Table> tables;
    size_t data_entries = 0;
    std::vector<std::u16string> names;
    std::vector<size_t> name_offsets;
    std::vector<size_t> data_offsets;
    size_t size = 0;
};

// The offset of a name already placed.
size_t name_offset(const SectionLayout& layout, const std::u16string& name) {
    const auto at = std::find(layout.names.begin(), layout.names.end(), name);
    return layout.name_offsets[static_cast<size_t>(at - layout.names.begin())];
}

void place_name(SectionLayout& layout, const std::u16string& name) {
    if (name.empty() || std::find(layout.names.begin(), layout.names.end(), name) != layout.names.end()) return;
    layout.names.push_back(name);
    layout.name_offsets.push_back(layout.size);
    layout.size += 2 + 2 * name.size();
}

SectionLayout section_layout(const std::vector<Resource>& resources) {
    SectionLayout layout;
    layout.tables = table_layout(resources);
    for (Table& table : layout.tables) {
        table.offset = layout.size;
        layout.size += TABLE_HEADER + TABLE_ENTRY * runs(resources, table).size();
    }
    layout.data_entries = layout.size;
    layout.size += DATA_ENTRY * resources.size();
    for (const Resource& r : resources) place_name(layout, r.type.name);
    for (const Resource& r : resources) place_name(layout, r.name.name);
    layout.size = (layout.size + 7) / 8 * 8;
    for (const Resource& r : resources) {
        layout.data_offsets.push_back(layout.size);
        layout.size = (layout.size + r.data.size() + 7) / 8 * 8;
    }
    return layout;
}

// Each table's counts and entries; an entry points to the next table of the
// breadth-first list, or at the last level to its resource's data entry.
void write_tables(const std::vector<Resource>& resources, const SectionLayout& layout, std::vector<uint8_t>& out) {
    size_t next_table = 1;
    for (const Table& table : layout.tables) {
        const Runs children = runs(resources, table);
        auto key_of = [&](size_t i) -> const ResourceKey* {
            if (table.level == 0) return &resources[i].type;
            if (table.level == 1) return &resources[i].name;
            return nullptr;
        };
        size_t named = 0;
        for (const auto& child : children) {
            if (const ResourceKey* k = key_of(child.first); k && !k->name.empty()) ++named;
        }
        set_u16le(out, table.offset + 12, named);
        set_u16le(out, table.offset + 14, children.size() - named);
        for (size_t c = 0; c < children.size(); ++c) {
            const size_t entry = table.offset + TABLE_HEADER + TABLE_ENTRY * c;
            const size_t i = children[c].first;
            const ResourceKey* k = key_of(i);
            const uint32_t key_field = k == nullptr ? resources[i].language
                                       : k->name.empty()
                                           ? k->id
                                           : static_cast<uint32_t>(NAME_OR_DIRECTORY | name_offset(layout, k->name));
            set_u32le(out, entry, key_field);
            set_u32le(out, entry + 4,
                      table.level == 2 ? layout.data_entries + DATA_ENTRY * i
                                       : NAME_OR_DIRECTORY | layout.tables[next_table++].offset);
        }
    }
}

void write_names_and_data(const std::vector<Resource>& resources, const SectionLayout& layout, uint32_t section_rva,
                          std::vector<uint8_t>& out) {
    for (size_t i = 0; i < layout.names.size(); ++i) {
        const std::u16string& name = layout.names[i];
        set_u16le(out, layout.name_offsets[i], name.size());
        for (size_t u = 0; u < name.size(); ++u) set_u16le(out, layout.name_offsets[i] + 2 + 2 * u, name[u]);
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        const size_t entry = layout.data_entries + DATA_ENTRY * i;
        set_u32le(out, entry, section_rva + layout.data_offsets[i]);
        set_u32le(out, entry + 4, resources[i].data.size());
        set_u32le(out, entry + 8, resources[i].codepage);
        std::copy(resources[i].data.begin(), resources[i].data.end(), out.begin() + layout.data_offsets[i]);
    }
}

}  // namespace

std::vector<uint8_t> write_resources(std::vector<Resource> resources, uint32_t section_rva) {
    std::stable_sort(resources.begin(), resources.end(), resource_less);
    const SectionLayout layout = section_layout(resources);
    std::vector<uint8_t> out(layout.size, 0);
    write_tables(resources, layout, out);
    write_names_and_data(resources, layout, section_rva, out);
    return out;
}

}  // namespace quillbox::pack
