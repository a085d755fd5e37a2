// The cameras a batch runs on, from the --targets text.
//
//   std::vector<cli::Target> targets;
//   std::string error;
//   if (!cli::ExpandTargets("192.168.1.10-12,@stored", stored, login, ReadTextFile, &targets, &error)) ...
//
// Items are comma-separated: an address, a range ("192.168.1.10-40" or "192.168.1.250-192.168.2.5"),
// "@stored" (the stored list) or "@file:PATH" (one address or range per line, "#" starts a
// comment). Targets keep the order of their first mention; a repeated address runs once. A stored
// camera keeps its own port and login wherever it is named.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cli {

struct Target {
    std::string ip;
    int port = 80;
    std::string user;
    std::string password;
    bool stored = false;
};

// The login of cameras that are not stored.
struct DefaultLogin {
    std::string user;
    std::string password;
    int port = 80;
};

// Reads a whole text file; false when it cannot.
using ReadTextFile = std::function<bool(const std::string& path, std::string* text)>;

// At most this many targets: a range typed wrong must not start a batch on a whole network.
constexpr size_t kMaxTargets = 65536;

bool ExpandTargets(const std::string& list, const std::vector<Target>& stored, const DefaultLogin& login,
                   const ReadTextFile& read_file, std::vector<Target>* targets, std::string* error);

}  // namespace cli
