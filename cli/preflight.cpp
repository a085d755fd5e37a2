#include "preflight.h"

#include <io.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kp_platform.h"

namespace cli {

namespace {

// _access modes.
constexpr int kReadable = 4;
constexpr int kWritable = 2;

enum class Kind { Missing, File, Folder, Other };

Kind KindOf(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || status.type() == std::filesystem::file_type::not_found) return Kind::Missing;
    if (status.type() == std::filesystem::file_type::regular) return Kind::File;
    if (status.type() == std::filesystem::file_type::directory) return Kind::Folder;
    return Kind::Other;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A file the batch reads: what is wrong with it, or empty.
std::string CheckInput(const char* option, const std::string& path) {
    switch (KindOf(path)) {
        case Kind::Folder:
            return std::string(option) + ": " + Quoted(path) + " is a folder, not a file";
        case Kind::Other:
            return std::string(option) + ": " + Quoted(path) + " is not a regular file";
        default:
            break;
    }
    if (path.empty() || _access(path.c_str(), kReadable) != 0)
        return std::string(option) + ": cannot read " + Quoted(path);
    return std::string();
}

// A folder the batch writes into. One that is missing is made later, inside the nearest folder
// that is there.
std::string CheckOutputFolder(const char* option, const std::string& path) {
    std::filesystem::path folder = path;
    while (KindOf(folder.string()) == Kind::Missing && folder.has_relative_path() &&
           folder.has_parent_path() && folder.parent_path() != folder)
        folder = folder.parent_path();
    if (KindOf(folder.string()) == Kind::Missing) folder = ".";
    if (KindOf(folder.string()) != Kind::Folder)
        return std::string(option) + ": " + Quoted(folder.string()) + " is not a folder";
    if (_access(folder.string().c_str(), kWritable) != 0)
        return std::string(option) + ": cannot write in " + Quoted(folder.string());
    return std::string();
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* text) {
    // A folder opens as a stream on some systems and reads as empty.
    if (KindOf(path) != Kind::File) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return !in.bad();
}

std::string CheckPaths(const Options& options, const std::string& reports) {
    std::vector<std::pair<const char*, std::string>> inputs;
    if (options.operation == batch::Operation::Upgrade) {
        // Packages may be joined with "|": each must be there.
        size_t start = 0;
        while (start <= options.file.size()) {
            size_t bar = options.file.find('|', start);
            if (bar == std::string::npos) bar = options.file.size();
            inputs.emplace_back("--file", options.file.substr(start, bar - start));
            start = bar + 1;
        }
    }
    if (options.operation == batch::Operation::ImportConfig) inputs.emplace_back("--file", options.file);
    if (options.operation == batch::Operation::Upload) {
        if (!options.logo.empty()) inputs.emplace_back("--logo", options.logo);
        if (!options.bg.empty()) inputs.emplace_back("--bg", options.bg);
        if (!options.css.empty()) inputs.emplace_back("--css", options.css);
    }
    for (const auto& input : inputs) {
        const std::string error = CheckInput(input.first, input.second);
        if (!error.empty()) return error;
    }
    if (options.operation == batch::Operation::ExportConfig) {
        const std::string error = CheckOutputFolder("--out", options.out);
        if (!error.empty()) return error;
    }
    return CheckOutputFolder("--reports", reports);
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool ReadPassword(Options* options, std::istream* in, std::string* error) {
    if (options->password_stdin) {
        std::string line;
        if (in == nullptr || !std::getline(*in, line) || FirstLine(line).empty()) {
            *error = "--password-stdin: standard input has no password on its first line";
            return false;
        }
        options->password = FirstLine(line);
        options->password_given = true;
        return true;
    }
    if (options->password_file.empty()) return true;
    const std::string& path = options->password_file;
    const std::string unreadable = CheckInput("--password-file", path);
    if (!unreadable.empty()) {
        *error = unreadable;
        return false;
    }
    if (kp::fileOpenToOthers(path)) {
        *error = "--password-file: other users may open " + Quoted(path) +
                 "; make it readable by its owner only (chmod 600)";
        return false;
    }
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        *error = "--password-file: cannot read " + Quoted(path);
        return false;
    }
    if (FirstLine(text).empty()) {
        *error = "--password-file: " + Quoted(path) + " has no password on its first line";
        return false;
    }
    options->password = FirstLine(text);
    options->password_given = true;
    return true;
}

void PrintDryRun(std::ostream& out, const Options& options, const std::string& arguments,
                 const std::vector<Target>& targets, const std::string& reports, bool password_asked) {
    auto limit = [](int value, const char* none) {
        return value > 0 ? std::to_string(value) : std::string(none);
    };
    out << "operation: " << options.operation_name << '\n'
        << "arguments: " << arguments << '\n'
        << "policy: parallel " << limit(options.parallel, "all") << ", canary "
        << limit(options.canary, "none") << ", max failures " << limit(options.max_failures, "none") << '\n'
        << "report folder: " << reports << '\n'
        << "targets: " << targets.size() << '\n';
    for (const Target& target : targets) {
        out << target.ip << " port " << target.port << " user " << target.user
            << (target.stored    ? " (stored login)"
                : password_asked ? " (password asked for when run)"
                                 : "")
            << '\n';
    }
    out << "dry run: no camera was touched\n";
}

}  // namespace cli
