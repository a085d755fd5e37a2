// Tables of the discover and list commands as aligned text, JSON (an array of objects) or CSV
// (a header line, then one line per row, fields quoted where they need it).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "arguments.h"

namespace cli {

struct Table {
    std::vector<std::string> columns;            // also the JSON keys
    std::vector<std::vector<std::string>> rows;  // one text per column
    std::vector<bool> numeric;                   // per column: a number in JSON
};

void WriteTable(std::ostream& out, const Table& table, Format format);

// One CSV field.
std::string CsvField(const std::string& text);

}  // namespace cli
