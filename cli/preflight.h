// What `run` checks before it touches the first camera, and what it reads for that: the files
// and folders of the operation, the report folder, the password's source. Nothing here writes.
//
//   std::string error = cli::CheckPaths(options);
//   if (error.empty() && cli::ReadPassword(&options, env.in, &error)) ...
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "arguments.h"
#include "targets.h"

namespace cli {

// Every path the batch will read or write; what is wrong with the first bad one, or empty.
// `reports` is the folder the report goes to.
std::string CheckPaths(const Options& options, const std::string& reports);

// Reads the password of --password-stdin (the first line of `in`) or --password-file (its
// first line; the file must be one only its owner may read) into `options`. True when neither
// was given. The error never holds the password.
bool ReadPassword(Options* options, std::istream* in, std::string* error);

// Reads a whole regular file; false for anything else or when it cannot.
bool ReadWholeFile(const std::string& path, std::string* text);

// The first line of `text`, without its line end.
std::string FirstLine(const std::string& text);

// --dry-run: the operation, its arguments, the policy and the targets, one per line.
void PrintDryRun(std::ostream& out, const Options& options, const std::string& arguments,
                 const std::vector<Target>& targets, const std::string& reports, bool password_asked);

}  // namespace cli
