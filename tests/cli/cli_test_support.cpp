#include "cli_test_support.h"

#include <filesystem>
#include <sstream>

#include "commands.h"
#include "unique_temp_dir.h"

namespace cli_test {

Result Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
           std::function<bool()> stop) {
    std::ostringstream out, err;
    cli::Environment environment;
    environment.getenv = [&env](const char* name) -> const char* {
        const auto found = env.find(name);
        return found == env.end() ? nullptr : found->second.c_str();
    };
    environment.stop_requested = std::move(stop);
    Result result;
    result.status = cli::RunCommandLine(args, out, err, environment);
    result.out = out.str();
    result.err = err.str();
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

InTempFolder::InTempFolder() {
    std::error_code error;
    previous_ = std::filesystem::current_path(error).string();
    path_ = MakeUniqueTempDir("kp_cli_test_");
    std::filesystem::current_path(path_, error);
}

InTempFolder::~InTempFolder() {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
    std::filesystem::remove_all(path_, error);
}

}  // namespace cli_test
