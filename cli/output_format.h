// Tables of the commands as aligned text, JSON (an array of objects) or CSV (a header line, then
// one line per row, fields quoted where they need it). Cells may come from the network: the text
// and CSV forms escape control characters, and CSV cells that a spreadsheet would take for a
// formula are neutralised.
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
    std::vector<bool> boolean;                   // per column: true ("true") or false in JSON
};

void WriteTable(std::ostream& out, const Table& table, Format format);

// One CSV field: a leading "=", "+", "-", "@", tab or carriage return gets a "'" before it,
// control characters are escaped, and the field is quoted where it needs it.
std::string CsvField(const std::string& text);

}  // namespace cli
