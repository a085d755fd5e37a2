// Helpers of the command-line tests: run the commands in-process, inside a fresh working folder.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "factory_test_support.h"

namespace cli_test {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// RunCommandLine with the given environment variables (nothing else is set) and no terminal;
// `stop` stands for the user's stop request.
Result Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
           std::function<bool()> stop = nullptr);

// The lines of `text`.
std::vector<std::string> Lines(const std::string& text);

// Makes a fresh temporary folder the working directory while it exists (the stored list and
// the reports live in the working directory).
class InTempFolder {
public:
    InTempFolder();
    ~InTempFolder();
    const std::string& path() const { return path_; }

private:
    std::string previous_;
    std::string path_;
};

}  // namespace cli_test
