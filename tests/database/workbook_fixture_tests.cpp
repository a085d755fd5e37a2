// Workbooks written by other programs: every cell their JSON lists comes out with that value,
// nothing else comes out, and damaged files fail cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "test_support.h"
#include "xlsbook/workbook_file.h"

using xlsbook::CellValue;

namespace {

nlohmann::json load_json(const std::string& name) {
    std::ifstream in(kptest::fixture(name));
    return nlohmann::json::parse(in);
}

using kptest::utf16;

void expect_cells_as_listed(const std::string& base) {
    SCOPED_TRACE(base);
    const nlohmann::json expected = load_json(base + ".json");
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load(kptest::fixture(base + ".xls")));
    ASSERT_EQ(book.worksheet_count(), expected["sheets"].size());
    for (const auto& sheet_json : expected["sheets"]) {
        xlsbook::WorksheetView* sheet = book.find_worksheet(utf16(sheet_json["name"].get<std::string>()));
        ASSERT_NE(sheet, nullptr) << sheet_json["name"];
        size_t listed_with_value = 0;
        for (const auto& c : sheet_json["cells"]) {
            const size_t row = c[0], column = c[1];
            const std::string type = c[2];
            SCOPED_TRACE(testing::Message() << "cell " << row << "," << column);
            const CellValue* cell = sheet->find_cell(row, column);
            if (type == "error") {
                EXPECT_TRUE(!cell || cell->kind() == CellValue::kUndefined);
                continue;
            }
            ++listed_with_value;
            ASSERT_NE(cell, nullptr);
            if (type == "string") {
                ASSERT_TRUE(cell->kind() == CellValue::kString || cell->kind() == CellValue::kWideString);
                EXPECT_EQ(kptest::cell_utf8(*cell), c[3].get<std::string>());
            } else if (type == "number") {
                ASSERT_TRUE(cell->kind() == CellValue::kInteger || cell->kind() == CellValue::kReal);
                const double value =
                    cell->kind() == CellValue::kInteger ? cell->get_integer() : cell->get_real();
                EXPECT_DOUBLE_EQ(value, c[3].get<double>());
            } else if (type == "bool") {
                ASSERT_EQ(cell->kind(), CellValue::kInteger);
                EXPECT_EQ(cell->get_integer(), c[3].get<bool>() ? 1 : 0);
            }
        }
        size_t defined = 0;
        for (size_t r = 0; r < sheet->total_rows(); ++r)
            for (size_t col = 0; col < sheet->total_columns(); ++col) {
                const CellValue* cell = sheet->find_cell(r, col);
                if (cell && cell->kind() != CellValue::kUndefined) ++defined;
            }
        EXPECT_EQ(defined, listed_with_value) << "cells that the file does not hold came out";
    }
}

}  // namespace

TEST(WorkbookFixtures, DeviceListsFromOtherWriters) {
    // LibreOffice: Row records but no Index/DBCell; Gnumeric: classic row blocks; SheetJS: no
    // Row records, 16-bit strings, integers as Number, text in Label records.
    for (const char* base : {"devices-lo", "devices-gnumeric", "devices-sheetjs", "devices-sheetjs-label"})
        expect_cells_as_listed(base);
}

TEST(WorkbookFixtures, MixedTypesFormulasAndWideSheetName) {
    // 9-byte BoolErr, String after a formula, MulRK, ×100 RKs, formatting runs, a sheet name
    // in 16-bit characters.
    expect_cells_as_listed("mixed-lo");
}

TEST(WorkbookFixtures, SharedStringsSplitOverContinue) {
    // Characters split with the flags byte repeated, a run array split without it, and splits
    // only between entries.
    expect_cells_as_listed("sst-continue-lo");
    expect_cells_as_listed("sst-continue-sheetjs");
}

TEST(WorkbookFixtures, StringWidthIsKeptAsStored) {
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load(kptest::fixture("devices-lo.xls")));
    xlsbook::WorksheetView* sheet = book.find_worksheet("sheet_1");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->find_cell(0, 0)->kind(), CellValue::kString);
    EXPECT_EQ(sheet->find_cell(2, 2)->kind(), CellValue::kWideString);
    EXPECT_EQ(sheet->find_cell(1, 1)->kind(), CellValue::kInteger);

    xlsbook::WorkbookFile mixed;
    ASSERT_TRUE(mixed.load(kptest::fixture("mixed-lo.xls")));
    xlsbook::WorksheetView* types = mixed.find_worksheet("types");
    ASSERT_NE(types, nullptr);
    EXPECT_TRUE(mixed.find_worksheet(u"汇总")->wide_name());
}

TEST(WorkbookFixtures, DamagedFilesFailCleanly) {
    for (const char* base : {"devices-truncated", "not-cfb"}) {
        ASSERT_TRUE(load_json(std::string(base) + ".json")["unreadable"].get<bool>());
        xlsbook::WorkbookFile book;
        EXPECT_FALSE(book.load(kptest::fixture(std::string(base) + ".xls"))) << base;
        EXPECT_EQ(book.worksheet_count(), 0u);
    }
    xlsbook::WorkbookFile book;
    EXPECT_FALSE(book.load(kptest::fixture("no-such-file.xls")));
}

TEST(WorkbookFixtures, EveryPrefixOfARealFileFailsOrLoads) {
    // A file cut anywhere must never crash the reader or make it hang, and a failed load
    // leaves no worksheet behind.
    const std::vector<uint8_t> whole = kptest::read_file(kptest::fixture("mixed-lo.xls"));
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load_bytes(whole));
    size_t failed = 0;
    for (size_t length = 0; length < whole.size(); length += 97) {
        if (book.load_bytes(
                std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length))))
            continue;
        ++failed;
        EXPECT_EQ(book.worksheet_count(), 0u) << length;
        EXPECT_EQ(book.find_worksheet("types"), nullptr) << length;
    }
    EXPECT_GT(failed, 0u);
}

namespace {

void put_record(std::vector<uint8_t>& out, uint16_t code, std::vector<uint8_t> data) {
    const uint8_t header[] = {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
                              static_cast<uint8_t>(data.size()), static_cast<uint8_t>(data.size() >> 8)};
    out.insert(out.end(), header, header + 4);
    out.insert(out.end(), data.begin(), data.end());
}

// Globals naming `sheets` worksheets, each holding one number in row 65535; with `shared` all
// of them point at the first sheet's substream.
std::vector<uint8_t> far_cell_workbook(size_t sheets, bool shared) {
    const std::vector<uint8_t> bof_globals = {0, 6, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> bof_sheet = {0, 6, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> far_rk = {0xFF, 0xFF, 0, 0, 0, 0, 0x0A, 0, 0, 0};
    std::vector<uint8_t> out;
    put_record(out, 0x0809, bof_globals);
    std::vector<size_t> position_at;
    for (size_t i = 0; i < sheets; ++i) {
        position_at.push_back(out.size() + 4);
        put_record(out, 0x0085,
                   {0, 0, 0, 0, 0, 0, 4, 0, 's', static_cast<uint8_t>('0' + i / 100 % 10),
                    static_cast<uint8_t>('0' + i / 10 % 10), static_cast<uint8_t>('0' + i % 10)});
    }
    put_record(out, 0x000A, {});
    for (size_t i = 0; i < sheets; ++i) {
        const uint32_t at = static_cast<uint32_t>(out.size());
        for (size_t k = i; k < (shared ? sheets : i + 1); ++k)
            for (int b = 0; b < 4; ++b) out[position_at[k] + b] = static_cast<uint8_t>(at >> (8 * b));
        put_record(out, 0x0809, bof_sheet);
        put_record(out, 0x027E, far_rk);
        put_record(out, 0x000A, {});
        if (shared) break;
    }
    return out;
}

}  // namespace

TEST(WorkbookFixtures, SmallFileCannotCostGigabytes) {
    // Each sheet with a cell in the last row used to grow a 65,536-row grid: a few kilobytes of
    // such sheets took gigabytes. Only rows that hold cells are kept, and a substream shared by
    // several sheets is damage.
    xlsbook::WorkbookFile book;
    const std::vector<uint8_t> many = far_cell_workbook(900, false);
    ASSERT_TRUE(book.load_stream(many));
    ASSERT_EQ(book.worksheet_count(), 900u);
    for (size_t i = 0; i < 900; i += 299) {
        const xlsbook::WorksheetView* sheet = book.worksheet(i);
        EXPECT_EQ(sheet->total_rows(), 65536u);
        EXPECT_EQ(sheet->stored_rows().size(), 1u);
        EXPECT_EQ(sheet->find_cell(65535, 0)->get_integer(), 2);
        EXPECT_EQ(sheet->find_cell(65534, 0), nullptr);
    }
    // What was loaded is written back as it was, and loads again.
    xlsbook::WorkbookFile again;
    ASSERT_TRUE(again.load_stream(book.build_stream()));
    EXPECT_EQ(again.worksheet(899)->total_rows(), 65536u);
    EXPECT_FALSE(book.load_stream(far_cell_workbook(2, true)));
    EXPECT_EQ(book.worksheet_count(), 0u);
}

TEST(WorkbookFixtures, LoadedFileSavesAndReloadsWithTheSameCells) {
    kptest::TempDir dir;
    for (const char* base : {"mixed-lo", "sst-continue-lo", "devices-sheetjs-label"}) {
        xlsbook::WorkbookFile book;
        ASSERT_TRUE(book.load(kptest::fixture(std::string(base) + ".xls")));
        ASSERT_TRUE(book.save_as(dir.file("copy.xls")));
        xlsbook::WorkbookFile again;
        ASSERT_TRUE(again.load(dir.file("copy.xls"))) << base;
        ASSERT_EQ(again.worksheet_count(), book.worksheet_count());
        for (size_t s = 0; s < book.worksheet_count(); ++s) {
            xlsbook::WorksheetView* a = book.worksheet(s);
            xlsbook::WorksheetView* b = again.worksheet(s);
            EXPECT_EQ(a->name(), b->name());
            for (size_t r = 0; r < a->total_rows(); ++r)
                for (size_t c = 0; c < a->total_columns(); ++c) {
                    const CellValue* x = a->find_cell(r, c);
                    const CellValue* y = b->find_cell(r, c);
                    const int kx = x ? x->kind() : 0, ky = y ? y->kind() : 0;
                    ASSERT_EQ(kx, ky) << base << " " << r << "," << c;
                    if (!x) continue;
                    EXPECT_EQ(x->raw_text(), y->raw_text());
                    EXPECT_EQ(x->get_integer(), y->get_integer());
                    EXPECT_EQ(x->get_real(), y->get_real());
                }
        }
    }
}

TEST(WorkbookFixtures, HandMadeStreamWithoutStringTableOrRowRecords) {
    // A minimal stream as lenient writers make it: no SST, no Index/Row/DBCell, an unknown
    // record among the cells, text in a Label record, a 9-byte BoolErr, and zero padding after
    // the last EOF.
    const std::vector<uint8_t> stream = {
        0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00, 0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,                             // BOF globals
        0x85, 0x00, 0x0C, 0x00, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00,  // BoundSheet at 40,
        0x02, 0x01, 0x41, 0x00, 0x42, 0x00,                          //   wide name "AB"
        0x0A, 0x00, 0x00, 0x00,                                      // EOF
        0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x10, 0x00, 0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,                                               // BOF sheet (40)
        0x34, 0x12, 0x02, 0x00, 0xAA, 0xBB,                                            // unknown record
        0x04, 0x02, 0x0B, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,                    // Label B2:
        0x02, 0x00, 0x00, 0x68, 0x69,                                                  //   "hi", 8-bit
        0x05, 0x02, 0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,  // BoolErr A3 TRUE
        0x7E, 0x02, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00,  // RK D1 = 2
        0x0A, 0x00, 0x00, 0x00,                                                              // EOF
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};                                     // padding
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load_stream(stream));
    xlsbook::WorksheetView* sheet = book.find_worksheet(u"AB");
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->wide_name());
    EXPECT_EQ(sheet->find_cell(1, 1)->get_text(), "hi");
    EXPECT_EQ(sheet->find_cell(2, 0)->get_integer(), 1);
    EXPECT_EQ(sheet->find_cell(0, 3)->get_integer(), 2);
    EXPECT_EQ(sheet->total_rows(), 3u);
    EXPECT_EQ(sheet->total_columns(), 4u);

    std::vector<uint8_t> cut(stream.begin(), stream.begin() + 108);  // sheet without its EOF
    EXPECT_FALSE(book.load_stream(cut));
    std::vector<uint8_t> misplaced = stream;
    misplaced[24] = 0x33;  // BoundSheet position no longer at a BOF
    EXPECT_FALSE(book.load_stream(misplaced));
}

TEST(WorkbookFixtures, SharedStringWideningAcrossContinueReadsWhole) {
    // An entry whose 8-bit characters go on as 16-bit ones in a CONTINUE record takes more
    // bytes joined than the table held.
    std::vector<uint8_t> out;
    put_record(out, 0x0809, {0, 6, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const size_t position_at = out.size() + 4;
    put_record(out, 0x0085, {0, 0, 0, 0, 0, 0, 1, 0, 's'});
    std::vector<uint8_t> sst = {1, 0, 0, 0, 1, 0, 0, 0, 201, 0, 0};
    sst.insert(sst.end(), 200, 'a');
    put_record(out, 0x00FC, sst);
    put_record(out, 0x003C, {0x01, 0x2D, 0x4E});
    put_record(out, 0x000A, {});
    for (int b = 0; b < 4; ++b) out[position_at + b] = static_cast<uint8_t>(out.size() >> (8 * b));
    put_record(out, 0x0809, {0, 6, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    put_record(out, 0x00FD, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    put_record(out, 0x000A, {});
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load_stream(out));
    const CellValue* cell = book.find_worksheet("s")->find_cell(0, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->get_wide_text(), std::u16string(200, u'a') + u"\u4E2D");
}
