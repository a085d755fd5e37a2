#include "targets.h"

#include <cstdint>
#include <set>
#include <unordered_map>

#include "ipv4.h"

namespace cli {

namespace {

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

class Collector {
public:
    Collector(const std::vector<Target>& stored, const DefaultLogin& login, std::vector<Target>* targets)
        : login_(login), targets_(targets) {
        for (const Target& target : stored) stored_.emplace(target.ip, target);
    }

    bool AddAddress(std::uint32_t address, std::string* error) {
        const std::string ip = factory::FormatIpv4(address);
        if (seen_.count(ip)) return true;
        if (targets_->size() >= kMaxTargets) {
            *error = "more than " + std::to_string(kMaxTargets) + " targets";
            return false;
        }
        seen_.insert(ip);
        const auto found = stored_.find(ip);
        if (found != stored_.end()) {
            targets_->push_back(found->second);
        } else {
            targets_->push_back(Target{ip, login_.port, login_.user, login_.password, false});
        }
        return true;
    }

    // An address or a range.
    bool AddItem(const std::string& item, std::string* error) {
        const size_t dash = item.find('-');
        std::uint32_t first = 0;
        if (dash == std::string::npos) {
            if (!factory::ParseIpv4(item, &first)) {
                *error = "\"" + item + "\" is not an address or range";
                return false;
            }
            return AddAddress(first, error);
        }
        const std::string from = Trim(item.substr(0, dash));
        const std::string to = Trim(item.substr(dash + 1));
        std::uint32_t last = 0;
        if (!factory::ParseIpv4(from, &first)) {
            *error = "\"" + item + "\": \"" + from + "\" is not an address";
            return false;
        }
        if (to.find('.') == std::string::npos) {
            // Only the last part: "192.168.1.10-40".
            const std::string whole = factory::FormatIpv4(first & 0xFFFFFF00u);
            const std::string prefix = whole.substr(0, whole.rfind('.') + 1);
            if (!factory::ParseIpv4(prefix + to, &last)) {
                *error = "\"" + item + "\": \"" + to + "\" is not a number from 0 to 255";
                return false;
            }
        } else if (!factory::ParseIpv4(to, &last)) {
            *error = "\"" + item + "\": \"" + to + "\" is not an address";
            return false;
        }
        if (last < first) {
            *error = "\"" + item + "\" ends before it starts";
            return false;
        }
        if (last - first >= kMaxTargets) {
            *error = "\"" + item + "\" holds more than " + std::to_string(kMaxTargets) + " addresses";
            return false;
        }
        for (std::uint32_t address = first;; ++address) {
            if (!AddAddress(address, error)) return false;
            if (address == last) break;
        }
        return true;
    }

    bool AddStored(std::string* error) {
        for (const auto& entry : stored_order_) {
            std::uint32_t address = 0;
            if (!factory::ParseIpv4(entry, &address)) continue;  // a stored row without a usable address
            if (!AddAddress(address, error)) return false;
        }
        return true;
    }

    std::vector<std::string> stored_order_;

private:
    DefaultLogin login_;
    std::vector<Target>* targets_;
    std::unordered_map<std::string, Target> stored_;
    std::set<std::string> seen_;
};

}  // namespace

bool ExpandTargets(const std::string& list, const std::vector<Target>& stored, const DefaultLogin& login,
                   const ReadTextFile& read_file, std::vector<Target>* targets, std::string* error) {
    std::vector<Target> result;
    Collector collector(stored, login, &result);
    for (const Target& target : stored) collector.stored_order_.push_back(target.ip);

    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string item = Trim(list.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) {
            *error = "--targets has an empty item";
            return false;
        }
        if (item == "@stored") {
            if (!collector.AddStored(error)) return false;
        } else if (item.rfind("@file:", 0) == 0) {
            const std::string path = item.substr(6);
            std::string text;
            if (path.empty() || !read_file || !read_file(path, &text)) {
                *error = "cannot read the target file \"" + path + "\"";
                return false;
            }
            size_t line_start = 0;
            int line_number = 0;
            while (line_start < text.size()) {
                size_t end = text.find('\n', line_start);
                if (end == std::string::npos) end = text.size();
                std::string line = text.substr(line_start, end - line_start);
                line_start = end + 1;
                ++line_number;
                const size_t hash = line.find('#');
                if (hash != std::string::npos) line.resize(hash);
                line = Trim(line);
                if (line.empty()) continue;
                if (!collector.AddItem(line, error)) {
                    *error = path + " line " + std::to_string(line_number) + ": " + *error;
                    return false;
                }
            }
        } else if (item[0] == '@') {
            *error = "unknown target \"" + item + "\" (use @stored or @file:PATH)";
            return false;
        } else if (!collector.AddItem(item, error)) {
            return false;
        }
    }
    if (result.empty()) {
        *error = "--targets names no camera";
        return false;
    }
    *targets = std::move(result);
    return true;
}

}  // namespace cli
