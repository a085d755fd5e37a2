// A new, empty temporary folder whose name starts with `prefix`; empty when none could be made.
// Windows has no mkdtemp, and its process ids come back quickly (under wine within one test run),
// so there the name takes a random part and a folder that exists is never shared.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

inline std::string MakeUniqueTempDir(const std::string& prefix) {
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path made =
            std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(made, error)) return made.string();
    }
    return std::string();
#else
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
#endif
}
