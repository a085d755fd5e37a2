// The --targets text: ranges, duplicates, the stored list, target files and what is refused.
#include <gtest/gtest.h>

#include <map>

#include "targets.h"

namespace {

using cli::Target;

const cli::DefaultLogin kLogin{"admin", "typed", 80};

std::vector<std::string> Ips(const std::vector<Target>& targets) {
    std::vector<std::string> ips;
    for (const Target& target : targets) ips.push_back(target.ip);
    return ips;
}

struct Expanded {
    bool ok;
    std::vector<Target> targets;
    std::string error;
};

Expanded Expand(const std::string& list, const std::vector<Target>& stored = {},
                const std::map<std::string, std::string>& files = {}) {
    Expanded result;
    result.ok = cli::ExpandTargets(
        list, stored, kLogin,
        [&files](const std::string& path, std::string* text) {
            const auto found = files.find(path);
            if (found == files.end()) return false;
            *text = found->second;
            return true;
        },
        &result.targets, &result.error);
    return result;
}

TEST(Targets, RangesCarryAcrossThirdPartAndKeepFirstMentionOrder) {
    const Expanded short_range = Expand("192.168.1.10-12, 192.168.1.11 ,10.0.0.1");
    ASSERT_TRUE(short_range.ok) << short_range.error;
    EXPECT_EQ((std::vector<std::string>{"192.168.1.10", "192.168.1.11", "192.168.1.12", "10.0.0.1"}),
              Ips(short_range.targets));

    const Expanded long_range = Expand("192.168.1.254-192.168.2.1");
    ASSERT_TRUE(long_range.ok) << long_range.error;
    EXPECT_EQ((std::vector<std::string>{"192.168.1.254", "192.168.1.255", "192.168.2.0", "192.168.2.1"}),
              Ips(long_range.targets));
    EXPECT_EQ("typed", long_range.targets[0].password);
    EXPECT_FALSE(long_range.targets[0].stored);
}

TEST(Targets, StoredCamerasKeepTheirOwnLoginWhereverNamed) {
    const std::vector<Target> stored = {{"192.168.1.20", 8080, "op", "own", true},
                                        {"192.168.1.21", 80, "admin", "other", true}};
    const Expanded both = Expand("192.168.1.19-20,@stored", stored);
    ASSERT_TRUE(both.ok) << both.error;
    ASSERT_EQ((std::vector<std::string>{"192.168.1.19", "192.168.1.20", "192.168.1.21"}), Ips(both.targets));
    EXPECT_EQ("typed", both.targets[0].password);
    EXPECT_EQ(8080, both.targets[1].port);
    EXPECT_EQ("own", both.targets[1].password);
    EXPECT_TRUE(both.targets[1].stored);
    EXPECT_EQ("other", both.targets[2].password);
}

TEST(Targets, FileListsAddressesAndRangesWithComments) {
    const Expanded from_file =
        Expand("@file:list.txt,192.168.1.3", {},
               {{"list.txt", "# gate cameras\n192.168.1.1\r\n\n  192.168.1.2-3  # lobby\n"}});
    ASSERT_TRUE(from_file.ok) << from_file.error;
    EXPECT_EQ((std::vector<std::string>{"192.168.1.1", "192.168.1.2", "192.168.1.3"}),
              Ips(from_file.targets));

    const Expanded bad_line = Expand("@file:list.txt", {}, {{"list.txt", "192.168.1.1\n192.168.1.300\n"}});
    EXPECT_FALSE(bad_line.ok);
    EXPECT_NE(std::string::npos, bad_line.error.find("list.txt line 2")) << bad_line.error;
}

TEST(Targets, RefusesWhatNamesNoCameraClearly) {
    const std::map<std::string, std::string> files = {{"empty.txt", "# nothing\n"}};
    for (const std::string list :
         {"192.168.1", "192.168.1.40-10", "192.168.1.10-256", "192.168.1.1,,192.168.1.2", "@everything",
          "@file:missing.txt", "@file:empty.txt", "10.0.0.0-10.2.0.0", "192.168.1.1-x", "@stored"}) {
        const Expanded expanded = Expand(list, {}, files);
        EXPECT_FALSE(expanded.ok) << list;
        EXPECT_FALSE(expanded.error.empty()) << list;
        EXPECT_TRUE(expanded.targets.empty()) << list;
    }
}

}  // namespace
