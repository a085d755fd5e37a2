#include "output_format.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "logging.h"

namespace cli {

namespace {

// Display width of UTF-8 text: a CJK character takes two columns of a terminal.
size_t Width(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += length;
    }
    return width;
}

}  // namespace

std::string CsvField(const std::string& cell) {
    // A spreadsheet runs a cell that starts like a formula.
    const bool formula = !cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos;
    const std::string text = kpes::escape_controls(formula ? "'" + cell : cell);
    if (text.find_first_of(",\"") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void WriteTable(std::ostream& out, const Table& table, Format format) {
    const size_t columns = table.columns.size();
    if (format == Format::Json) {
        // Keys in column order, as the text and CSV forms show them.
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& row : table.rows) {
            nlohmann::ordered_json object = nlohmann::ordered_json::object();
            for (size_t c = 0; c < columns && c < row.size(); ++c) {
                const bool number = c < table.numeric.size() && table.numeric[c] && !row[c].empty();
                if (c < table.boolean.size() && table.boolean[c]) {
                    object[table.columns[c]] = row[c] == "true";
                } else if (number) {
                    object[table.columns[c]] = std::stoll(row[c]);
                } else {
                    object[table.columns[c]] = row[c];
                }
            }
            array.push_back(std::move(object));
        }
        // Names of cameras may not be valid UTF-8; replaced rather than refused.
        out << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
        return;
    }
    if (format == Format::Csv) {
        for (size_t c = 0; c < columns; ++c) out << (c ? "," : "") << CsvField(table.columns[c]);
        out << '\n';
        for (const auto& row : table.rows) {
            for (size_t c = 0; c < columns; ++c)
                out << (c ? "," : "") << CsvField(c < row.size() ? row[c] : "");
            out << '\n';
        }
        return;
    }
    // A newline in a name would forge a line of its own; escape and bell codes would reach the terminal.
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : table.rows) {
        rows.emplace_back();
        for (const std::string& cell : row) rows.back().push_back(kpes::escape_controls(cell));
    }
    std::vector<size_t> widths(columns, 0);
    for (size_t c = 0; c < columns; ++c) widths[c] = Width(table.columns[c]);
    for (const auto& row : rows)
        for (size_t c = 0; c < columns && c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
    auto write_row = [&](const std::vector<std::string>& row) {
        std::string line;
        for (size_t c = 0; c < columns; ++c) {
            const std::string& text = c < row.size() ? row[c] : std::string();
            line += text;
            if (c + 1 < columns) line += std::string(widths[c] - Width(text) + 2, ' ');
        }
        out << line << '\n';
    };
    write_row(table.columns);
    for (const auto& row : rows) write_row(row);
}

}  // namespace cli
