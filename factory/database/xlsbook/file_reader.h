// Reads a whole workbook file into memory, refusing what is not a regular file of bounded size
// (a folder, a device, a named pipe), so that a wrong file neither blocks nor exhausts memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_block.h"

namespace xlsbook {

// Why a file could not be loaded; `damaged` is for content that is not a workbook we read.
enum class LoadStatus { loaded, missing, denied, not_regular, too_large, read_error, damaged };

// Far larger than any device list: a full list of 65,535 devices takes under 10 MB.
constexpr size_t kMaxFileSize = size_t{512} << 20;

LoadStatus read_whole_file(const std::string& path, size_t limit, ByteBlock& out);

// A few words for a log line.
const char* describe(LoadStatus status);

}  // namespace xlsbook
