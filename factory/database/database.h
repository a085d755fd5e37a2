// The record store: objects of one reflected class kept as the rows of the worksheet "sheet_1"
// of a workbook file. Row 0 names the properties, one per column; every later row is one object.
//
//   factory::database store;
//   store.open("list.xls", rttr::type::get_by_name("devicedatamanager"), true);
//   factory::devicedatamanager device;
//   store.read_row(device, 1);
//   store.write_row(device, store.row_count());   // append
//   store.save_as("list.xls");
//
// Every failure is logged at error severity and returned as false. Not thread-safe: the store
// manager serialises all calls.
#pragma once

#include <rttr/type>
#include <string>
#include <vector>

#include "xlsbook/workbook_file.h"

namespace factory {

class database {
public:
    database();
    ~database();
    database(const database&) = delete;
    database& operator=(const database&) = delete;

    // Loads the workbook at `path`. Without a file there, creates one. A file whose content is
    // damaged is moved aside (its name plus a time stamp, owner-only), never overwritten. A file
    // that cannot be read at all (no permission, not a regular file, too large) fails the open
    // and stays where it is; save_as() then refuses to replace it.
    bool open(const std::string& path, const rttr::type& type, bool rewrite_header);
    // Loads the workbook at `path` for reading only: nothing is created, moved or rewritten, and
    // save_as() refuses to replace it. False, with what was wrong in `why`, when it cannot be read.
    bool open_read_only(const std::string& path, std::string* why);
    bool save_as(const std::string& path);

    unsigned int row_count();
    bool read_row(rttr::instance object, int row);
    bool write_row(rttr::instance object, int row);
    // Removes data row `row`; the rows below move up with all their cells. `object` is kept
    // for callers that pass a scratch record; the move does not go through it.
    bool erase_row(rttr::instance object, int row);

private:
    enum class write_result { ok, no_cell, no_sheet, unsupported_type, too_long };
    // What a column's property takes, so that the common cells go in without a conversion.
    enum class target { text, unsigned_int, signed_int, other };
    struct column {
        size_t index;
        rttr::property property;
        target takes;
    };
    bool write_header(const rttr::type& type);
    bool set_property(rttr::instance& object, const column& column, const xlsbook::CellValue* cell);
    // Through the variant's conversions: the cells that do not go straight into their property.
    bool set_converted(rttr::instance& object, const rttr::property& property, rttr::variant value);
    write_result write_value(const rttr::variant& value, size_t row, size_t column);
    bool header_name(size_t column, std::string& name);
    // The columns that the header names a property of `type` in, looked up once: the header
    // changes only through open().
    const std::vector<column>& columns_of(const rttr::type& type);

    xlsbook::WorkbookFile work_book_;
    xlsbook::WorksheetView* basic_work_sheet_ = nullptr;
    rttr::type cached_type_ = rttr::type::get<void>();
    size_t cached_columns_ = 0;
    std::vector<column> cached_properties_;
    std::string refused_path_;
    // The last non-ASCII text read and what it converted to.
    std::string last_converted_from_;
    std::string last_converted_;
    bool last_converted_compact_ = false;
    bool last_converted_ok_ = false;
    // Values handed to setters, each with its argument made once: making one looks its type up.
    std::string text_value_;
    rttr::argument text_argument_{text_value_};
    unsigned int unsigned_value_ = 0;
    rttr::argument unsigned_argument_{unsigned_value_};
};

}  // namespace factory
