// Writes workbooks with our writer and, beside each, the cells it holds as JSON, for the
// independent-reader check (check_with_xlrd.py).
//   kp_write_sample OUTPUT_FOLDER
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "databasemanager.h"
#include "xlsbook/workbook_file.h"

namespace {

std::string json_escape_utf16(const std::u16string& text) {
    std::string out;
    char buffer[8];
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

std::u16string text_of(const xlsbook::CellValue& cell) {
    if (cell.kind() == xlsbook::CellValue::kWideString) return cell.get_wide_text();
    std::u16string out;
    for (unsigned char c : cell.get_text()) out.push_back(c);
    return out;
}

bool write_with_expectation(xlsbook::WorkbookFile& book, const std::string& folder, const std::string& name) {
    if (!book.save_as(folder + "/" + name + ".xls")) return false;
    FILE* out = std::fopen((folder + "/" + name + ".json").c_str(), "w");
    if (!out) return false;
    std::fprintf(out, "{\"sheets\": [");
    for (size_t s = 0; s < book.worksheet_count(); ++s) {
        xlsbook::WorksheetView* sheet = book.worksheet(s);
        std::fprintf(out, "%s{\"name\": \"%s\", \"rows\": %zu, \"cells\": [", s ? ", " : "",
                     json_escape_utf16(sheet->name()).c_str(), sheet->total_rows());
        bool first = true;
        for (size_t r = 0; r < sheet->total_rows(); ++r)
            for (size_t c = 0; c < sheet->total_columns(); ++c) {
                const xlsbook::CellValue* cell = sheet->find_cell(r, c);
                if (!cell || cell->kind() == xlsbook::CellValue::kUndefined) continue;
                std::fprintf(out, "%s[%zu, %zu, ", first ? "" : ", ", r, c);
                first = false;
                switch (cell->kind()) {
                    case xlsbook::CellValue::kInteger:
                        std::fprintf(out, "\"number\", %d]", cell->get_integer());
                        break;
                    case xlsbook::CellValue::kReal:
                        std::fprintf(out, "\"number\", %.17g]", cell->get_real());
                        break;
                    default:
                        std::fprintf(out, "\"string\", \"%s\"]", json_escape_utf16(text_of(*cell)).c_str());
                }
            }
        std::fprintf(out, "]}");
    }
    std::fprintf(out, "]}\n");
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = true;

    {  // The device list as the store writes it: narrow header, wide texts, integer port.
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("sheet_1");
        const char* header[] = {"ip", "port", "user_name", "password"};
        for (size_t c = 0; c < 4; ++c) s->cell(0, c)->set_text(header[c]);
        for (size_t r = 1; r <= 40; ++r) {
            s->cell(r, 0)->set_text_from_ansi("192.168.1." + std::to_string(r));
            s->cell(r, 1)->set_integer(r % 2 ? 8000 : 80);
            s->cell(r, 2)->set_text_from_ansi(r % 7 == 0 ? "管理员" : "admin");
            s->cell(r, 3)->set_text_from_ansi(r == 5 ? "" : "pw-" + std::to_string(r * 31));
        }
        ok = write_with_expectation(book, folder, "devices") && ok;
    }
    {  // Numbers at and beyond the RK limits, runs, Latin-1 narrow text, a wide sheet name.
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("numbers");
        const int ints[] = {0, -1, 536870911, -536870912, 536870912, -536870913, 2147483647};
        for (size_t i = 0; i < 7; ++i) s->cell(i, 0)->set_integer(ints[i]);
        const double reals[] = {3.14, -0.25, 2.718282, 0.000123, 1e300, -12345.678};
        for (size_t i = 0; i < 6; ++i) s->cell(i, 2)->set_real(reals[i]);
        for (size_t c = 0; c < 10; ++c) s->cell(10, c)->set_integer(static_cast<int>(c * 3));
        s->cell(11, 0)->set_text("caf\xE9");
        xlsbook::WorksheetView* w = book.add_worksheet(u"汇总");
        w->cell(3, 4)->set_wide_text(u"宽字符");
        book.add_worksheet("empty");
        ok = write_with_expectation(book, folder, "numbers") && ok;
    }
    {  // A shared string table over many CONTINUE records, mixing widths.
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("strings");
        for (size_t r = 0; r < 3000; ++r) {
            s->cell(r, 0)->set_text(std::string(1 + r % 97, static_cast<char>('a' + r % 26)) +
                                    std::to_string(r));
            s->cell(r, 1)->set_wide_text(std::u16string(1 + r % 61, static_cast<char16_t>(0x4E00 + r)));
        }
        ok = write_with_expectation(book, folder, "strings") && ok;
    }
    {  // Over 7 MB: the FAT needs more sectors than the header's 109 DIFAT entries list.
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("big");
        for (size_t r = 0; r < 65536; ++r)
            for (size_t c = 0; c < 7; ++c)
                s->cell(r, c)->set_real(static_cast<double>(r) / 3.0 + static_cast<double>(c));
        ok = write_with_expectation(book, folder, "big") && ok;
    }
    {  // A full device list whose texts are all characters outside the BMP, so that every
       // CONTINUE boundary of the string table falls on one.
        auto bold_digits = [](int n) {
            std::u16string out;
            for (char d : std::to_string(n)) {
                const char32_t c = U'\U0001D7CE' + static_cast<char32_t>(d - '0');
                out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            }
            return out;
        };
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("sheet_1");
        const char* header[] = {"ip", "port", "user_name", "password"};
        for (size_t c = 0; c < 4; ++c) s->cell(0, c)->set_text(header[c]);
        for (int r = 1; r <= 65535; ++r) {
            s->cell(r, 0)->set_wide_text(bold_digits(r));
            s->cell(r, 1)->set_integer(8000);
            std::u16string user;
            for (int k = 0; k <= r % 3; ++k) user += u"\U00020BB7";
            s->cell(r, 2)->set_wide_text(user);
            s->cell(r, 3)->set_wide_text(bold_digits(r * 7919 % 100003) + bold_digits(r % 10));
        }
        ok = write_with_expectation(book, folder, "non-bmp-devices") && ok;
    }
    {  // Globals only.
        xlsbook::WorkbookFile book;
        ok = write_with_expectation(book, folder, "no-sheets") && ok;
    }
    {  // The device list as the store manager saves it, in its working directory.
        if (::chdir(folder.c_str()) != 0) return 1;
        factory::databasemanager* db = factory::databasemanager::instance();
        ok = db->init() && ok;
        for (int i = 1; i <= 30; ++i) {
            factory::devicedatamanager d;
            d.set_ip("172.16.0." + std::to_string(i));
            d.set_port(i % 3 ? 8000u : 37777u);
            d.set_user_name(i % 7 ? "admin" : "管理员");
            d.set_password(i == 9 ? "" : "Pässw0rd-" + std::to_string(i));
            ok = db->add_device(d) && ok;
        }
        ok = db->delete_device("172.16.0.1") && db->delete_device("172.16.0.30") && ok;
        ok = db->save() && ok;
        xlsbook::WorkbookFile book;
        ok = book.load("devicedatamanager.xls") && ok;
        // Written again under another name only to produce its JSON beside it.
        ok = write_with_expectation(book, ".", "devicedatamanager-resaved") && ok;
        ok = ::rename("devicedatamanager-resaved.json", "devicedatamanager.json") == 0 && ok;
        ::unlink("devicedatamanager-resaved.xls");
    }
    return ok ? 0 : 1;
}
