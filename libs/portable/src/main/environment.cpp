// The child's environment block, composed from the inherited variables.
#include "main/environment.h"

#include <map>

namespace quillbox {
namespace {

struct NameLess {
    NameCompare compare;
    bool operator()(const std::u16string& a, const std::u16string& b) const { return compare(a, b) < 0; }
};

using EnvMap = std::map<std::u16string, std::u16string, NameLess>;

// Keeps the spelling of the first name and takes the new value.
void set_variable(EnvMap& map, std::u16string name, std::u16string value) {
    auto [it, inserted] = map.try_emplace(std::move(name), value);
    if (!inserted) it->second = std::move(value);
}

}  // namespace

std::vector<EnvEntry> parse_environment_block(const char16_t* block) {
    std::vector<EnvEntry> entries;
    for (const char16_t* p = block; *p != u'\0';) {
        std::u16string_view entry(p);
        p += entry.size() + 1;
        // Per-drive entries such as "=C:=C:\x" begin with '=': that one is part of the name.
        size_t eq = entry.find(u'=', 1);
        if (eq == std::u16string_view::npos) continue;
        entries.emplace_back(std::u16string(entry.substr(0, eq)), std::u16string(entry.substr(eq + 1)));
    }
    return entries;
}

Outcome<std::u16string> build_environment_block(const std::vector<EnvEntry>& inherited,
                                                std::u16string_view app_file_name, NameCompare compare) {
    EnvMap map{NameLess{compare}};
    for (const auto& [name, value] : inherited) set_variable(map, name, value);
    set_variable(map, APP_NAME_VARIABLE, std::u16string(app_file_name));

    std::u16string block;
    for (const auto& [name, value] : map) {
        if (name.find(u'\0') != std::u16string::npos || value.find(u'\0') != std::u16string::npos) {
            return failed<std::u16string>(invalid_input("nul byte found in provided data"));
        }
        block += name;
        block += u'=';
        block += value;
        block += u'\0';
    }
    block += u'\0';
    return succeeded(std::move(block));
}

}  // namespace quillbox
