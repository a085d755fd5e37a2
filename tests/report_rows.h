// Reads a batch report back: every row of its sheet as UTF-8 texts, padded to its columns.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch_report.h"
#include "utf_text.h"
#include "xlsbook/workbook_file.h"

namespace kptest {

using ReportRows = std::vector<std::vector<std::string>>;

inline ReportRows LoadReportRows(const std::string& path) {
    xlsbook::WorkbookFile book;
    EXPECT_TRUE(book.load(path)) << path;
    ReportRows rows;
    if (book.worksheet_count() != 1) return rows;
    xlsbook::WorksheetView* sheet = book.worksheet(0);
    for (size_t r = 0; r < sheet->total_rows(); ++r) {
        std::vector<std::string> row(report::BatchReport::kColumns);
        for (size_t c = 0; c < row.size(); ++c) {
            const xlsbook::CellValue* cell = sheet->find_cell(r, c);
            if (!cell) continue;
            row[c] = cell->kind() == xlsbook::CellValue::kWideString ? utf8(cell->get_wide_text())
                                                                     : cell->get_text();
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace kptest
