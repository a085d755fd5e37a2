#include "database.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <rttr/registration>
#include <vector>

#include "logging.h"
#include "xlsbook/byte_order.h"

namespace factory {

namespace {

const char* const kSheetName = "sheet_1";

// Eight bytes at a time: every text of a list is checked on each load.
bool is_ascii(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    uint64_t high = 0;
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080u) == 0;
}

// A text held in its cell (most of a list's) is checked as the cell's two words, with the bytes
// past its end masked off: no loop over its characters.
bool cell_text_is_ascii(const xlsbook::CellValue& cell) {
    const std::string_view text = cell.raw_text();
#ifdef XLSBOOK_LITTLE_ENDIAN
    if (cell.text_in_cell()) {
        static_assert(xlsbook::CellValue::kCellTextBytes == 16, "two words");
        uint64_t words[2];
        std::memcpy(words, text.data(), sizeof words);
        const size_t n = text.size();
        const uint64_t low = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
        const uint64_t high = n >= 16 ? ~uint64_t{0} : n <= 8 ? 0 : (uint64_t{1} << (8 * (n - 8))) - 1;
        return (((words[0] & low) | (words[1] & high)) & 0x8080808080808080u) == 0;
    }
#endif
    return is_ascii(text);
}

// Narrow cells hold 8-bit characters (Latin-1); our byte strings are in the ANSI code page.
std::string ansi_from_8bit(const std::string& chars) {
    bool plain = true;
    for (unsigned char c : chars) plain = plain && c < 0x80;
    if (plain) return chars;
    std::vector<wchar_t> units;
    for (unsigned char c : chars) units.push_back(c);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()), &out[0], bytes, nullptr,
                            nullptr);
    return out;
}

// Wide text to the ANSI code page. The buffer is sized for the text, so that whatever the store
// writes reads back whole; nothing is ever cut short.
bool multibyte_from_wide(const xlsbook::CellValue& cell, std::string& out) {
    if (cell.wide_length() > xlsbook::kMaxTextLength) {
        KPES_LOG(kpes::LS_ERROR) << "buffer is small and convert failed";
        return false;
    }
    if (cell.compact() && is_ascii(cell.raw_text())) {
        // ASCII converts to itself: the common case needs no conversion call.
        out.assign(cell.raw_text());
        return true;
    }
    const std::u16string wide = cell.get_wide_text();
    // The locale is process-wide and never changes afterwards: setting it once is enough.
    static const bool locale_set = (std::setlocale(LC_ALL, "zh-CN"), true);
    (void)locale_set;
    std::vector<wchar_t> units(wide.begin(), wide.end());
    units.push_back(0);
    size_t needed = 0;
    if (wcstombs_s(&needed, nullptr, 0, units.data(), units.size()) != 0 || needed == 0) {
        KPES_LOG(kpes::LS_ERROR) << "extracted_value convert failed";
        return false;
    }
    std::vector<char> buffer(needed);
    size_t converted = 0;
    if (wcstombs_s(&converted, buffer.data(), buffer.size(), units.data(), units.size()) != 0) {
        KPES_LOG(kpes::LS_ERROR) << "extracted_value convert failed";
        return false;
    }
    out.assign(buffer.data());
    return true;
}

// UTF-16 units that `text` (ANSI code page) takes in a cell.
size_t wide_units(const std::string& text) {
    // A byte gives at most one unit: short texts need no count.
    if (text.size() <= xlsbook::kMaxTextLength) return text.size();
    return static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0));
}

std::string time_stamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

}  // namespace

database::database() = default;
database::~database() = default;

bool database::open(const std::string& path, const rttr::type& type, bool rewrite_header) {
    basic_work_sheet_ = nullptr;
    cached_type_ = rttr::type::get<void>();
    refused_path_.clear();
    if (!work_book_.load(path)) {
        const xlsbook::LoadStatus status = work_book_.load_status();
        if (status == xlsbook::LoadStatus::damaged) {
            // The file is there but is not a workbook we can read: it may still hold the only
            // copy of the user's list, so it is kept under another name, not overwritten.
            std::string aside = path + ".unreadable-" + time_stamp();
            for (int n = 1; _access(aside.c_str(), 0) == 0; ++n)
                aside = path + ".unreadable-" + time_stamp() + "-" + std::to_string(n);
            if (!MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
                KPES_LOG(kpes::LS_ERROR) << "workbook cannot be loaded nor moved aside: " << path;
                return false;
            }
            // It holds passwords, whatever mode it had.
            _chmod(aside.c_str(), _S_IREAD | _S_IWRITE);
            KPES_LOG(kpes::LS_ERROR) << "workbook cannot be loaded, moved aside to " << aside;
        } else if (status != xlsbook::LoadStatus::missing) {
            // Not read, so nothing is known about its content: it stays as it is, and no save
            // of this store may replace it.
            KPES_LOG(kpes::LS_ERROR) << "workbook cannot be read (" << xlsbook::describe(status)
                                     << "), left as it is: " << path;
            refused_path_ = path;
            return false;
        }
        if (!work_book_.save_as(path)) {
            KPES_LOG(kpes::LS_ERROR) << "workbook cannot be created: " << path;
        }
    }

    basic_work_sheet_ = work_book_.find_worksheet(kSheetName);
    if (!basic_work_sheet_) {
        basic_work_sheet_ = work_book_.add_worksheet(kSheetName);
        if (!basic_work_sheet_) {
            KPES_LOG(kpes::LS_ERROR) << "no work sheet ";
            return false;
        }
        write_header(type);
    }
    // A header that already names every property stays: written over columns 0 to n-1 it
    // would relabel the data of a list whose columns a technician moved or put a remark between.
    if (rewrite_header && columns_of(type).size() != type.get_properties().size()) write_header(type);
    return true;
}

bool database::open_read_only(const std::string& path, std::string* why) {
    basic_work_sheet_ = nullptr;
    cached_type_ = rttr::type::get<void>();
    refused_path_ = path;
    if (!work_book_.load(path)) {
        *why = xlsbook::describe(work_book_.load_status());
        return false;
    }
    basic_work_sheet_ = work_book_.find_worksheet(kSheetName);
    if (!basic_work_sheet_) {
        *why = std::string("no worksheet ") + kSheetName;
        return false;
    }
    return true;
}

bool database::write_header(const rttr::type& type) {
    cached_type_ = rttr::type::get<void>();
    size_t column = 0;
    for (const rttr::property& property : type.get_properties()) {
        xlsbook::CellValue* cell = basic_work_sheet_->cell(0, column++);
        if (!cell) return false;
        cell->set_text(property.get_name().to_string());
    }
    return true;
}

bool database::save_as(const std::string& path) {
    if (!refused_path_.empty() && path == refused_path_) {
        KPES_LOG(kpes::LS_ERROR) << "workbook was never read, not replacing it: " << path;
        return false;
    }
    return work_book_.save_as(path);
}

unsigned int database::row_count() {
    if (!basic_work_sheet_) {
        KPES_LOG(kpes::LS_ERROR) << "basic_work_sheet_ is NULL ";
        return 0;
    }
    return static_cast<unsigned int>(basic_work_sheet_->total_rows());
}

bool database::header_name(size_t column, std::string& name) {
    const xlsbook::CellValue* key = basic_work_sheet_->find_cell(0, column);
    if (!key || key->kind() == xlsbook::CellValue::kUndefined) return false;
    // Spreadsheet programs may store a typed header in 16-bit characters.
    if (key->kind() == xlsbook::CellValue::kWideString) return multibyte_from_wide(*key, name);
    if (key->kind() != xlsbook::CellValue::kString) return false;
    name = key->get_text();
    return true;
}

const std::vector<database::column>& database::columns_of(const rttr::type& type) {
    const size_t columns = basic_work_sheet_->total_columns();
    if (cached_type_ == type && cached_columns_ == columns) return cached_properties_;
    // Each property sits in the first column whose header names it. Other columns (a remark a
    // technician added, a stray cell) are not ours: they are left alone and move with their rows.
    cached_properties_.clear();
    for (const rttr::property& property : type.get_properties()) {
        const std::string wanted = property.get_name().to_string();
        for (size_t c = 0; c < columns; ++c) {
            std::string name;
            if (header_name(c, name) && name == wanted) {
                const rttr::type takes = property.get_type();
                cached_properties_.push_back({c, property,
                                              takes == rttr::type::get<std::string>() ? target::text
                                              : takes == rttr::type::get<unsigned int>()
                                                  ? target::unsigned_int
                                              : takes == rttr::type::get<int>() ? target::signed_int
                                                                                : target::other});
                break;
            }
        }
    }
    cached_type_ = type;
    cached_columns_ = columns;
    return cached_properties_;
}

bool database::read_row(rttr::instance object, int row) {
    if (!basic_work_sheet_) {
        KPES_LOG(kpes::LS_ERROR) << "basic_work_sheet_ is NULL : ";
        return false;
    }
    const size_t rows = basic_work_sheet_->total_rows();
    const size_t columns = basic_work_sheet_->total_columns();
    // A row at or past the end is refused here; looking it up must not grow the sheet.
    if (rows == 0 || columns == 0 || row < 0 || static_cast<size_t>(row) >= rows) {
        KPES_LOG(kpes::LS_ERROR) << "worksheet is empty : ";
        return false;
    }
    const std::vector<column>& mapped = columns_of(object.get_derived_type());
    if (mapped.empty()) {
        KPES_LOG(kpes::LS_ERROR) << "property is NULL ";
        return false;
    }
    // The row is looked up once for all its cells.
    const xlsbook::WorksheetView::StoredRow* stored = basic_work_sheet_->stored_row(static_cast<size_t>(row));
    for (const column& c : mapped) {
        const xlsbook::CellValue* cell =
            stored && c.index < stored->cells.size() ? &stored->cells[c.index] : nullptr;
        if (!set_property(object, c, cell)) return false;
    }
    return true;
}

bool database::set_property(rttr::instance& object, const column& column, const xlsbook::CellValue* cell) {
    const rttr::property& property = column.property;
    switch (cell ? cell->kind() : xlsbook::CellValue::kUndefined) {
        case xlsbook::CellValue::kUndefined:
            // Spreadsheet programs drop empty text cells when they save: an absent cell is an
            // empty value, not an unreadable row.
            if (column.takes == target::text) return set_converted(object, property, std::string());
            return set_converted(object, property, 0);
        case xlsbook::CellValue::kInteger: {
            // The usual port: set as the setter's own type, without a round through the variant.
            const int number = cell->get_integer();
            if (column.takes == target::signed_int) {
                if (property.set_value(object, number)) return true;
            } else if (column.takes == target::unsigned_int && number >= 0) {
                unsigned_value_ = static_cast<unsigned int>(number);
                if (property.set_value(object, unsigned_argument_)) return true;
            } else {
                return set_converted(object, property, number);
            }
            KPES_LOG(kpes::LS_ERROR) << "extracted_value convert failed";
            return false;
        }
        case xlsbook::CellValue::kReal:
            return set_converted(object, property, cell->get_real());
        case xlsbook::CellValue::kString:
            return set_converted(object, property, ansi_from_8bit(cell->get_text()));
        case xlsbook::CellValue::kWideString: {
            if (column.takes == target::text && cell->compact() &&
                cell->wide_length() <= xlsbook::kMaxTextLength && cell_text_is_ascii(*cell)) {
                // ASCII is its own ANSI form: the cell's text goes straight into the property.
                text_value_.assign(cell->raw_text());
                if (property.set_value(object, text_argument_)) return true;
                KPES_LOG(kpes::LS_ERROR) << "extracted_value convert failed";
                return false;
            }
            // A list repeats its few non-ASCII texts (user names) on many rows: each is converted
            // once in a row of equal texts. The locale never changes, so neither does the result.
            if (!last_converted_ok_ || cell->compact() != last_converted_compact_ ||
                cell->raw_text() != last_converted_from_) {
                last_converted_ok_ = false;
                if (!multibyte_from_wide(*cell, last_converted_)) return false;
                last_converted_from_.assign(cell->raw_text());
                last_converted_compact_ = cell->compact();
                last_converted_ok_ = true;
            }
            // Text into a text property needs no conversion: set it without the variant's copy.
            if (column.takes == target::text) {
                if (property.set_value(object, last_converted_)) return true;
                KPES_LOG(kpes::LS_ERROR) << "extracted_value convert failed";
                return false;
            }
            return set_converted(object, property, last_converted_);
        }
        default:
            KPES_LOG(kpes::LS_ERROR) << "type is not exist : ";
            return false;
    }
}

bool database::set_converted(rttr::instance& object, const rttr::property& property, rttr::variant value) {
    if (!value.convert(property.get_type()) || !property.set_value(object, value)) {
        KPES_LOG(kpes::LS_ERROR) << "extracted_value convert failed";
        return false;
    }
    return true;
}

bool database::write_row(rttr::instance object, int row) {
    if (!basic_work_sheet_) {
        KPES_LOG(kpes::LS_ERROR) << "basic_work_sheet_ is NULL : ";
        return false;
    }
    const size_t columns = basic_work_sheet_->total_columns();
    if (basic_work_sheet_->total_rows() == 0 || columns == 0 || row <= 0) {
        KPES_LOG(kpes::LS_ERROR) << "worksheet is empty : ";
        return false;
    }
    for (const column& c : columns_of(object.get_derived_type())) {
        const rttr::variant value = c.property.get_value(object);
        if (!value.is_valid()) {
            KPES_LOG(kpes::LS_ERROR) << "cannot serialize, because we cannot retrieve the value ";
            continue;
        }
        const write_result result = write_value(value, static_cast<size_t>(row), c.index);
        if (result == write_result::ok) continue;
        if (result == write_result::no_cell)
            KPES_LOG(kpes::LS_ERROR) << "Cell is empty : ";
        else if (result == write_result::too_long)
            KPES_LOG(kpes::LS_ERROR) << "text is too long for a cell : ";
        else if (result == write_result::no_sheet)
            KPES_LOG(kpes::LS_ERROR) << "basic_work_sheet_ is NULL : ";
        else
            KPES_LOG(kpes::LS_ERROR) << "type is not exist : ";
        KPES_LOG(kpes::LS_ERROR) << "data is not atomic type ";
        return false;
    }
    return true;
}

database::write_result database::write_value(const rttr::variant& original, size_t row, size_t column) {
    const rttr::variant value =
        original.get_type().is_wrapper() ? original.extract_wrapped_value() : original;
    const rttr::type type = value.get_type();
    if (!basic_work_sheet_) return write_result::no_sheet;
    auto target = [&]() { return basic_work_sheet_->cell(row, column); };

    if (type == rttr::type::get<bool>() || type == rttr::type::get<char>()) {
        xlsbook::CellValue* cell = target();
        if (!cell) return write_result::no_cell;
        const bool flag =
            type == rttr::type::get<bool>() ? value.get_value<bool>() : value.get_value<char>() != 0;
        cell->set_integer(flag ? 1 : 0);
    } else if (type == rttr::type::get<int>()) {
        xlsbook::CellValue* cell = target();
        if (!cell) return write_result::no_cell;
        cell->set_integer(value.get_value<int>());
    } else if (type == rttr::type::get<unsigned int>()) {
        xlsbook::CellValue* cell = target();
        if (!cell) return write_result::no_cell;
        cell->set_integer(static_cast<int>(value.get_value<unsigned int>()));
    } else if (type == rttr::type::get<float>() || type == rttr::type::get<double>()) {
        xlsbook::CellValue* cell = target();
        if (!cell) return write_result::no_cell;
        cell->set_real(type == rttr::type::get<float>() ? value.get_value<float>()
                                                        : value.get_value<double>());
    } else if (type.is_enumeration()) {
        xlsbook::CellValue* cell = target();
        if (!cell) return write_result::no_cell;
        bool ok = false;
        const int number = value.to_int(&ok);
        cell->set_integer(number);
    } else if (type == rttr::type::get<std::string>()) {
        const std::string& text = value.get_value<std::string>();
        // Refused whole rather than cut short: a cell holds at most 32767 characters.
        if (wide_units(text) > xlsbook::kMaxTextLength) return write_result::too_long;
        xlsbook::CellValue* cell = target();
        if (!cell) return write_result::no_cell;
        cell->set_text_from_ansi(text);
    } else if (type.is_arithmetic()) {
        return write_result::unsupported_type;
    }
    return write_result::ok;
}

bool database::erase_row(rttr::instance /*object*/, int row) {
    if (!basic_work_sheet_) {
        KPES_LOG(kpes::LS_ERROR) << "basic_work_sheet_ is NULL : ";
        return false;
    }
    const size_t rows = basic_work_sheet_->total_rows();
    // Row 0 is the header; a row past the end would otherwise drop the last device.
    if (rows == 0 || basic_work_sheet_->total_columns() == 0 || row <= 0 ||
        static_cast<size_t>(row) >= rows) {
        KPES_LOG(kpes::LS_ERROR) << "worksheet is empty : ";
        return false;
    }
    // Rows move up whole, cell by cell: copying them through a record would carry the fields
    // of an earlier row into one whose cells cannot be read.
    return basic_work_sheet_->erase_row(static_cast<size_t>(row));
}

}  // namespace factory
