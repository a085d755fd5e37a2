#include "param_file.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "util.h"

namespace rudavado {
namespace {

const char kMagic[] = ";KPCFG 2";

std::string boundedName(const char* name) { return std::string(name, strnlen(name, KP_PARAM_NAME_LEN)); }

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

bool abilityIsSane(const KP_PARAM_IMPORT_ABILITY_V2& ability) {
    if (ability.group_count < 0 || ability.group_count > KP_PARAM_GROUP_MAX) return false;
    for (int g = 0; g < ability.group_count; ++g) {
        const int n = ability.groups[g].item_count;
        if (n < 0 || n > KP_PARAM_ITEM_MAX) return false;
    }
    return true;
}

void fillAbility(const Camera& c, KP_PARAM_IMPORT_ABILITY_V2& ability) {
    std::memset(&ability, 0, sizeof ability);
    const auto& groups = c.groups();
    ability.group_count = static_cast<int>(groups.size());
    ability.device_type = c.family->device_type;
    ability.hardware_index = c.family->hardware_index;
    for (size_t g = 0; g < groups.size(); ++g) {
        KP_PARAM_IMPORT_GROUP& group = ability.groups[g];
        std::string gb;
        utf8ToGb2312(groups[g].name, gb);
        copyText(group.name, sizeof group.name, gb);
        group.item_count = static_cast<int>(groups[g].items.size());
        for (size_t i = 0; i < groups[g].items.size(); ++i) {
            KP_PARAM_IMPORT_ITEM& item = group.items[i];
            item.selected = 1;
            item.item_id = static_cast<int>((g + 1) * 100 + i + 1);
            item.value_type = static_cast<int>(groups[g].items[i].type);
            utf8ToGb2312(groups[g].items[i].name, gb);
            copyText(item.name, sizeof item.name, gb);
        }
    }
}

std::string exportParams(const Camera& c, const KP_PARAM_IMPORT_ABILITY_V2& ability) {
    std::string text = std::string(kMagic) + "\r\n";
    text += std::string(";family=") + c.family->name + "\r\n";
    char serial[32];
    std::snprintf(serial, sizeof serial, "%08x-%08x", c.serial_high, c.serial_low);
    text += std::string(";serial=") + serial + "\r\n";
    text += ";exported=" + formatDateTime(hostUtcSeconds() + c.clock_offset_s) + "\r\n";

    // Items in the order of the record, each at most once, grouped under their camera group.
    std::vector<std::vector<size_t>> chosen(c.groups().size());
    std::set<std::pair<size_t, size_t>> seen;
    for (int g = 0; g < ability.group_count; ++g) {
        const KP_PARAM_IMPORT_GROUP& group = ability.groups[g];
        std::string group_name;
        if (!gb2312ToUtf8(boundedName(group.name), group_name)) continue;
        for (int i = 0; i < group.item_count; ++i) {
            if (group.items[i].selected == 0) continue;
            std::string item_name;
            size_t gi, ii;
            if (!gb2312ToUtf8(boundedName(group.items[i].name), item_name)) continue;
            if (!c.findParam(group_name, item_name, gi, ii)) continue;
            if (!seen.insert({gi, ii}).second) continue;
            chosen[gi].push_back(ii);
        }
    }
    size_t count = 0;
    for (size_t g = 0; g < chosen.size(); ++g) {
        if (chosen[g].empty()) continue;
        text += std::string("[") + c.groups()[g].name + "]\r\n";
        for (size_t i : chosen[g]) {
            text += std::string(c.groups()[g].items[i].name) + "=" + c.values[g][i] + "\r\n";
            ++count;
        }
    }
    text += ";end items=" + std::to_string(count) + "\r\n";
    std::string gb;
    utf8ToGb2312(text, gb);  // every name and value is representable: values were checked
    return gb;
}

bool parseParamFile(const std::string& content, const Family& family, std::vector<ParamChange>& changes) {
    changes.clear();
    if (content.find('\0') != std::string::npos) return false;  // binary, not a parameter file
    std::string text;
    if (!gb2312ToUtf8(content, text)) return false;
    std::vector<std::string> lines = splitLines(text);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.size() < 2 || lines.front() != kMagic) return false;

    std::vector<ParamChange> found;
    bool have_family = false;
    bool in_header = true;
    int group = -1;
    for (size_t n = 1; n + 1 < lines.size(); ++n) {
        const std::string& line = lines[n];
        if (line.empty()) continue;
        if (line[0] == ';') {
            if (!in_header) return false;
            const size_t eq = line.find('=');
            if (eq == std::string::npos) return false;
            if (line.compare(1, eq - 1, "family") == 0) {
                if (line.substr(eq + 1) != family.name) return false;  // another model's file
                have_family = true;
            }
            continue;
        }
        in_header = false;
        if (line[0] == '[') {
            if (line.back() != ']') return false;
            const std::string name = line.substr(1, line.size() - 2);
            group = -1;
            for (size_t g = 0; g < family.groups.size(); ++g) {
                if (name == family.groups[g].name) group = static_cast<int>(g);
            }
            if (group < 0) return false;
            continue;
        }
        const size_t eq = line.find('=');
        if (group < 0 || eq == std::string::npos || eq == 0) return false;
        const std::string item = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        const GroupDef& def = family.groups[static_cast<size_t>(group)];
        size_t index = def.items.size();
        for (size_t i = 0; i < def.items.size(); ++i) {
            if (item == def.items[i].name) index = i;
        }
        if (index == def.items.size() || !valueFits(def.items[index], value)) return false;
        found.push_back({static_cast<size_t>(group), index, value});
    }
    if (!have_family) return false;
    if (lines.back() != ";end items=" + std::to_string(found.size())) return false;
    changes = std::move(found);
    return true;
}

}  // namespace rudavado
