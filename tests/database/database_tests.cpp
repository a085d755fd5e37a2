// The record store: worksheet layout, the value and cell tables, its messages, and the
// mended behaviours (files that cannot be loaded are kept, conversions never truncate, rows
// move whole).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <rttr/registration>

#include "database.h"
#include "devicedatamanager.h"
#include "test_support.h"

using factory::devicedatamanager;
using xlsbook::CellValue;

namespace {

enum class probe_mode { off = 0, on = 7 };

// A record with one property of every kind the value table names.
struct probe {
    bool flag = true;
    char letter = 'x';
    int number = -5;
    unsigned int big = 4000000000u;
    float ratio = 0.5f;
    double exact = 3.25;
    probe_mode mode = probe_mode::on;
    std::string text = "文本";
    std::vector<int> ignored{1, 2};
};

struct probe_with_short {
    int number = 1;
    short narrow_number = 2;
};

}  // namespace

RTTR_REGISTRATION {
    rttr::registration::enumeration<probe_mode>("probe_mode")(rttr::value("off", probe_mode::off),
                                                              rttr::value("on", probe_mode::on));
    rttr::registration::class_<probe>("probe")
        .constructor<>()
        .property("flag", &probe::flag)
        .property("letter", &probe::letter)
        .property("number", &probe::number)
        .property("big", &probe::big)
        .property("ratio", &probe::ratio)
        .property("exact", &probe::exact)
        .property("mode", &probe::mode)
        .property("text", &probe::text)
        .property("ignored", &probe::ignored);
    rttr::registration::class_<probe_with_short>("probe_with_short")
        .constructor<>()
        .property("number", &probe_with_short::number)
        .property("narrow_number", &probe_with_short::narrow_number);
}

namespace {

#define kDevice (rttr::type::get_by_name("devicedatamanager"))

devicedatamanager device(const std::string& ip, unsigned port, const std::string& user,
                         const std::string& password) {
    devicedatamanager d;
    d.set_ip(ip);
    d.set_port(port);
    d.set_user_name(user);
    d.set_password(password);
    return d;
}

xlsbook::WorksheetView* sheet_of(xlsbook::WorkbookFile& book, const std::string& path) {
    EXPECT_TRUE(book.load(path));
    return book.find_worksheet("sheet_1");
}

}  // namespace

TEST(Database, DeviceRecordIsRegisteredWithItsFourPropertiesInOrder) {
    ASSERT_TRUE(kDevice.is_valid());
    std::vector<std::string> names;
    for (const rttr::property& p : kDevice.get_properties()) names.push_back(p.get_name().to_string());
    EXPECT_EQ(names, (std::vector<std::string>{"ip", "port", "user_name", "password"}));
    EXPECT_EQ(kDevice.get_property("port").get_type(), rttr::type::get<unsigned int>());
}

TEST(Database, OpenWithoutFileCreatesItAndStartsWithTheHeaderRow) {
    kptest::TempDir dir;
    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    ASSERT_TRUE(kptest::file_exists("list.xls"));
    xlsbook::WorkbookFile on_disk;
    ASSERT_TRUE(on_disk.load("list.xls"));
    EXPECT_EQ(on_disk.worksheet_count(), 0u) << "the file is written before the sheet exists";
    EXPECT_EQ(store.row_count(), 1u);

    ASSERT_TRUE(store.save_as("list.xls"));
    xlsbook::WorksheetView* sheet = sheet_of(on_disk, "list.xls");
    ASSERT_NE(sheet, nullptr);
    const char* names[] = {"ip", "port", "user_name", "password"};
    for (size_t c = 0; c < 4; ++c) {
        ASSERT_EQ(sheet->find_cell(0, c)->kind(), CellValue::kString);
        EXPECT_EQ(sheet->find_cell(0, c)->get_text(), names[c]);
    }
}

TEST(Database, DevicesRoundTripThroughTheFile) {
    kptest::TempDir dir;
    {
        factory::database store;
        ASSERT_TRUE(store.open("list.xls", kDevice, true));
        devicedatamanager a = device("192.0.2.1", 8000, "管理员", "pässwörd");
        devicedatamanager b = device("192.0.2.2", 80, "admin", "");
        ASSERT_TRUE(store.write_row(a, 1));
        ASSERT_TRUE(store.write_row(b, store.row_count()));
        ASSERT_TRUE(store.save_as("list.xls"));
    }
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* sheet = sheet_of(book, "list.xls");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->find_cell(1, 1)->kind(), CellValue::kInteger);
    EXPECT_EQ(sheet->find_cell(1, 2)->kind(), CellValue::kWideString);
    // An empty password is an empty wide string, not a missing cell.
    ASSERT_EQ(sheet->find_cell(2, 3)->kind(), CellValue::kWideString);
    EXPECT_EQ(sheet->find_cell(2, 3)->wide_length(), 0u);

    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, false));
    EXPECT_EQ(store.row_count(), 3u);
    devicedatamanager a, b;
    ASSERT_TRUE(store.read_row(a, 1));
    ASSERT_TRUE(store.read_row(b, 2));
    EXPECT_EQ(a, device("192.0.2.1", 8000, "管理员", "pässwörd"));
    EXPECT_EQ(b, device("192.0.2.2", 80, "admin", ""));
}

TEST(Database, HeaderRewriteReplacesOnlyThePropertyColumns) {
    kptest::TempDir dir;
    {
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("sheet_1");
        const char* old_header[] = {"IP", "Port", "user", "pwd", "note"};
        for (size_t c = 0; c < 5; ++c) s->cell(0, c)->set_text(old_header[c]);
        s->cell(1, 0)->set_text("10.0.0.1");
        s->cell(1, 4)->set_text("kept");
        ASSERT_TRUE(book.save_as("list.xls"));
    }
    factory::database keep;
    ASSERT_TRUE(keep.open("list.xls", kDevice, false));
    devicedatamanager d;
    kptest::LogCapture log;
    EXPECT_FALSE(keep.read_row(d, 1));
    EXPECT_TRUE(log.contains("property is NULL "));

    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    ASSERT_TRUE(store.save_as("list.xls"));
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* s = sheet_of(book, "list.xls");
    EXPECT_EQ(s->find_cell(0, 0)->get_text(), "ip");
    EXPECT_EQ(s->find_cell(0, 3)->get_text(), "password");
    EXPECT_EQ(s->find_cell(0, 4)->get_text(), "note");
    EXPECT_EQ(s->find_cell(1, 0)->get_text(), "10.0.0.1");
    EXPECT_EQ(s->find_cell(1, 4)->get_text(), "kept");
}

TEST(Database, ReadAndWriteFailuresAreLoggedWithTheirTexts) {
    kptest::TempDir dir;
    factory::database store;
    devicedatamanager d = device("192.0.2.9", 37777, "u", "p");
    {
        kptest::LogCapture log;
        EXPECT_FALSE(store.read_row(d, 1));
        EXPECT_FALSE(store.write_row(d, 1));
        EXPECT_EQ(store.row_count(), 0u);
        EXPECT_EQ(log.messages(),
                  (std::vector<std::string>{"basic_work_sheet_ is NULL : ", "basic_work_sheet_ is NULL : ",
                                            "basic_work_sheet_ is NULL "}));
        // Errors carry the source position of the store.
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.lines()[0].rfind("(database.cpp:", 0), 0u) << log.lines()[0];
    }
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    {
        kptest::LogCapture log;
        EXPECT_FALSE(store.write_row(d, 0)) << "row 0 is the header";
        EXPECT_FALSE(store.read_row(d, 1)) << "past the last row";
        EXPECT_EQ(log.messages(),
                  (std::vector<std::string>{"worksheet is empty : ", "worksheet is empty : "}));
        EXPECT_EQ(store.row_count(), 1u) << "a failed read does not grow the sheet";
    }
    {
        kptest::LogCapture log;
        EXPECT_FALSE(store.write_row(d, 65536));
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"Cell is empty : ", "data is not atomic type "}));
        ASSERT_TRUE(store.write_row(d, 65535)) << "the last row a sheet can hold";
        EXPECT_EQ(store.row_count(), 65536u);
    }
    ASSERT_TRUE(store.save_as("list.xls"));
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* s = sheet_of(book, "list.xls");
    EXPECT_EQ(s->find_cell(0, 0)->get_text(), "ip") << "header untouched";
}

TEST(Database, MissingCellsReadAsEmptyAndOnlyBadValuesFailTheRow) {
    kptest::TempDir dir;
    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    devicedatamanager d = device("192.0.2.9", 37777, "u", "p");
    ASSERT_TRUE(store.write_row(d, 1));
    ASSERT_TRUE(store.save_as("list.xls"));
    {  // a data cell dropped, a header typed in 16-bit characters, a port that is text
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = sheet_of(book, "list.xls");
        s->cell(1, 2)->clear();
        s->cell(1, 1)->clear();
        s->cell(0, 3)->set_wide_text(u"password");
        s->cell(2, 0)->set_text_from_ansi("192.0.2.10");
        s->cell(2, 1)->set_text_from_ansi("eighty");
        ASSERT_TRUE(book.save_as("odd.xls"));
    }
    factory::database odd;
    ASSERT_TRUE(odd.open("odd.xls", kDevice, false));
    kptest::LogCapture log;
    devicedatamanager r = device("stale", 1, "stale", "stale");
    ASSERT_TRUE(odd.read_row(r, 1));
    EXPECT_EQ(r, device("192.0.2.9", 0, "", "p"));
    EXPECT_TRUE(log.messages().empty());
    EXPECT_FALSE(odd.read_row(r, 2));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"extracted_value convert failed"}));

    devicedatamanager n = device("198.51.100.1", 81, "root", "new");
    EXPECT_TRUE(odd.write_row(n, 1));
    ASSERT_TRUE(odd.read_row(r, 1));
    EXPECT_EQ(r, n) << "the 16-bit header names its column for writing too";
}

TEST(Database, EveryTextTheStoreWritesReadsBackWhole) {
    kptest::TempDir dir;
    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    std::string cjk43;
    for (int i = 0; i < 43; ++i) cjk43 += "码";
    const std::string texts[] = {std::string(127, 'a'),
                                 std::string(128, 'a'),
                                 cjk43,
                                 std::string(257, 'a'),
                                 "𠮷" + std::string(300, 'b') + "码",
                                 std::string(32767, 'z')};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        devicedatamanager d = device("192.0.2.1", 1, text, text);
        ASSERT_TRUE(store.write_row(d, 1));
        devicedatamanager back;
        ASSERT_TRUE(store.read_row(back, 1));
        EXPECT_EQ(back, d);
    }
    {  // What a cell cannot hold is refused whole when written, and the row keeps its value.
        kptest::LogCapture log;
        devicedatamanager d = device("192.0.2.1", 1, "u", std::string(32768, 'a'));
        EXPECT_FALSE(store.write_row(d, 1));
        EXPECT_EQ(log.messages(),
                  (std::vector<std::string>{"text is too long for a cell : ", "data is not atomic type "}));
    }
    {  // ...and a longer one from another writer is refused when read, never truncated.
        ASSERT_TRUE(store.save_as("list.xls"));
        xlsbook::WorkbookFile book;
        sheet_of(book, "list.xls")->cell(1, 3)->set_wide_text(std::u16string(40000, u'w'));
        ASSERT_TRUE(book.save_as("long.xls"));
        factory::database other;
        ASSERT_TRUE(other.open("long.xls", kDevice, false));
        kptest::LogCapture log;
        devicedatamanager back;
        back.set_password("previous");
        EXPECT_FALSE(other.read_row(back, 1));
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"buffer is small and convert failed"}));
        EXPECT_EQ(back.get_password(), "previous");
    }
}

TEST(Database, ValuesAreWrittenByTheirReflectedType) {
    kptest::TempDir dir;
    factory::database store;
    const rttr::type probe_type = rttr::type::get<probe>();
    ASSERT_TRUE(store.open("probe.xls", probe_type, true));
    probe p;
    ASSERT_TRUE(store.write_row(p, 1));
    ASSERT_TRUE(store.save_as("probe.xls"));
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* s = sheet_of(book, "probe.xls");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->find_cell(1, 0)->get_integer(), 1);                              // bool
    EXPECT_EQ(s->find_cell(1, 1)->get_integer(), 1);                              // char, as a bool
    EXPECT_EQ(s->find_cell(1, 2)->get_integer(), -5);                             // int
    EXPECT_EQ(s->find_cell(1, 3)->get_integer(), static_cast<int>(4000000000u));  // its 32 bits
    EXPECT_EQ(s->find_cell(1, 4)->get_real(), 0.5);                               // float
    EXPECT_EQ(s->find_cell(1, 5)->get_real(), 3.25);                              // double
    EXPECT_EQ(s->find_cell(1, 6)->get_integer(), 7);                              // enumeration
    EXPECT_EQ(kptest::cell_utf8(*s->find_cell(1, 7)), "文本");                    // wide string
    EXPECT_TRUE(!s->find_cell(1, 8) || s->find_cell(1, 8)->kind() == CellValue::kUndefined);

    factory::database shorts;
    ASSERT_TRUE(shorts.open("short.xls", rttr::type::get<probe_with_short>(), true));
    kptest::LogCapture log;
    probe_with_short ps;
    EXPECT_FALSE(shorts.write_row(ps, 1));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"type is not exist : ", "data is not atomic type "}));
}

TEST(Database, ErasedRowsMoveUpWhole) {
    kptest::TempDir dir;
    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    for (int r = 1; r <= 4; ++r) {
        devicedatamanager d =
            device("10.0.0." + std::to_string(r), 80, "u" + std::to_string(r), "p" + std::to_string(r));
        ASSERT_TRUE(store.write_row(d, r));
    }
    devicedatamanager scratch;
    {
        kptest::LogCapture log;
        EXPECT_FALSE(store.erase_row(scratch, 0)) << "the header stays";
        EXPECT_FALSE(store.erase_row(scratch, 5)) << "past the end: nothing to erase";
        EXPECT_EQ(log.messages(),
                  (std::vector<std::string>{"worksheet is empty : ", "worksheet is empty : "}));
        EXPECT_EQ(store.row_count(), 5u);
    }
    ASSERT_TRUE(store.erase_row(scratch, 4));  // last row: only it goes
    EXPECT_EQ(store.row_count(), 4u);
    ASSERT_TRUE(store.erase_row(scratch, 1));  // first row: the others move up
    EXPECT_EQ(store.row_count(), 3u);
    devicedatamanager d;
    ASSERT_TRUE(store.read_row(d, 1));
    EXPECT_EQ(d.get_ip(), "10.0.0.2");
    ASSERT_TRUE(store.read_row(d, 2));
    EXPECT_EQ(d.get_ip(), "10.0.0.3");
}

TEST(Database, ErasingDoesNotCarryValuesIntoARowWithAnEmptyCell) {
    // A row with no password cell moves up as it is; it must not pick up another row's password.
    kptest::TempDir dir;
    kptest::write_file("list.xls", kptest::read_file(kptest::fixture("devices-lo.xls")));
    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    devicedatamanager scratch;
    ASSERT_TRUE(store.erase_row(scratch, 2));
    ASSERT_TRUE(store.save_as("list.xls"));
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* s = sheet_of(book, "list.xls");
    EXPECT_EQ(kptest::cell_utf8(*s->find_cell(2, 0)), "198.51.100.7");
    EXPECT_TRUE(!s->find_cell(2, 3) || s->find_cell(2, 3)->kind() == CellValue::kUndefined);
}

TEST(Database, FileThatCannotBeLoadedIsMovedAsideNotOverwritten) {
    kptest::TempDir dir;
    const std::vector<uint8_t> damaged = kptest::read_file(kptest::fixture("devices-truncated.xls"));
    kptest::write_file("list.xls", damaged);
    ::chmod("list.xls", 0644);
    kptest::LogCapture log;
    factory::database store;
    ASSERT_TRUE(store.open("list.xls", kDevice, true));
    EXPECT_EQ(store.row_count(), 1u);

    std::string aside;
    FILE* p = ::popen("ls list.xls.unreadable-*", "r");
    char name[256] = {};
    if (p && std::fgets(name, sizeof name, p)) aside = std::string(name, std::strcspn(name, "\n"));
    if (p) ::pclose(p);
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(kptest::read_file(aside), damaged);
    struct stat st {};
    ASSERT_EQ(::stat(aside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "it holds passwords";
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0], "workbook cannot be loaded, moved aside to " + aside);
    xlsbook::WorkbookFile fresh;
    EXPECT_TRUE(fresh.load("list.xls")) << "a new, empty workbook took its place";
}

TEST(Database, OnlyRegularFilesAreReadAndTheRestIsLeftAlone) {
    // A folder, an endless device and a named pipe under the list's name: none may abort, fill
    // memory or block; each is refused with a log line, stays, and is never saved over.
    kptest::TempDir dir;
    ASSERT_EQ(::mkdir("folder.xls", 0700), 0);
    ASSERT_EQ(::symlink("/dev/zero", "zero.xls"), 0);
    ASSERT_EQ(::mkfifo("pipe.xls", 0600), 0);
    const std::pair<const char*, const char*> cases[] = {{"folder.xls", "access denied"},
                                                         {"zero.xls", "not a regular file"},
                                                         {"pipe.xls", "not a regular file"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        kptest::LogCapture log;
        factory::database store;
        EXPECT_FALSE(store.open(c.first, kDevice, true));
        EXPECT_FALSE(store.save_as(c.first));
        EXPECT_EQ(log.messages(),
                  (std::vector<std::string>{
                      std::string("workbook cannot be read (") + c.second + "), left as it is: " + c.first,
                      std::string("workbook was never read, not replacing it: ") + c.first}));
    }
    struct stat st {};
    ASSERT_EQ(::lstat("folder.xls", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(::lstat("zero.xls", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat("pipe.xls", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
