// The bytes a save writes, pinned: lists already on technicians' disks and the readers that open
// them rely on the exact layout, so any change to how a file is built must leave them as they are.
// Each case builds a workbook the same way every time and compares the saved file's size and
// fingerprint with those of the files written before.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ios>
#include <string>

#include "database.h"
#include "devicedatamanager.h"
#include "test_support.h"
#include "xlsbook/workbook_file.h"

namespace {

// FNV-1a over the whole file: any changed, missing or extra byte shows.
uint64_t fingerprint(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xCBF29CE484222325u;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3u;
    return h;
}

factory::devicedatamanager device(int i) {
    factory::devicedatamanager d;
    d.set_ip("10." + std::to_string(i / 65536) + "." + std::to_string((i / 256) % 256) + "." +
             std::to_string(i % 256));
    d.set_port(i % 2 ? 8000u : 80u);
    d.set_user_name(i % 7 == 0 ? "管理员" : (i % 5 == 0 ? "" : "admin"));
    d.set_password(i % 97 == 0 ? std::string(300 + i % 50, 'p') : "Pw" + std::to_string((i * 7919) % 100003));
    return d;
}

// Every cell kind, runs of RK values, values that need the full double, texts of both widths
// (with pairs and texts long enough to continue), two sheets, gaps and a cell at the far corner.
void fill_mixed(xlsbook::WorkbookFile& book) {
    xlsbook::WorksheetView* a = book.add_worksheet("devices");
    xlsbook::WorksheetView* b = book.add_worksheet(u"表二");
    for (size_t r = 0; r < 900; ++r) {
        if (r % 37 == 5) continue;  // rows without cells
        const std::string n = std::to_string(r);
        a->cell(r, 0)->set_text("narrow " + n);
        a->cell(r, 1)->set_text_from_ansi(r % 3 ? "wide " + n : "宽 " + n);
        a->cell(r, 2)->set_integer(static_cast<int>(r * 1000));
        a->cell(r, 3)->set_integer(r % 11 ? static_cast<int>(r) : 600000000 + static_cast<int>(r));
        a->cell(r, 4)->set_real(r * 0.25);
        a->cell(r, 5)->set_real(r / 3.0);
        if (r % 13 == 0) a->cell(r, 7)->set_wide_text(u"😀 pair " + std::u16string(r % 5, u'x'));
        if (r % 200 == 0) a->cell(r, 6)->set_text_from_ansi(std::string(9000 + r, 'L'));
    }
    a->cell(65535, 200)->set_text("corner");
    b->cell(3, 2)->set_real(-12.5);
    b->cell(40, 0)->set_text_from_ansi("管理员");
}

void save_store(const std::string& path) {
    factory::database store;
    ASSERT_TRUE(store.open(path, rttr::type::get<factory::devicedatamanager>(), true));
    for (int i = 1; i <= 3000; ++i) {
        factory::devicedatamanager d = device(i);
        ASSERT_TRUE(store.write_row(d, static_cast<int>(store.row_count())));
    }
    ASSERT_TRUE(store.save_as(path));
}

void save_book(const std::string& path, const std::function<void(xlsbook::WorkbookFile&)>& fill) {
    xlsbook::WorkbookFile book;
    fill(book);
    ASSERT_TRUE(book.save_as(path));
}

void resave_fixture(const std::string& path, const std::string& name) {
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load(kptest::fixture(name)));
    ASSERT_TRUE(book.save_as(path));
}

struct Case {
    const char* name;
    std::function<void(const std::string&)> save;
    size_t size;
    uint64_t hash;
};

}  // namespace

TEST(SavedBytes, SavesWriteTheSameFilesAsBefore) {
    const Case cases[] = {
        {"device list through the store", save_store, 376832, 0x86e598f19a4803ecu},
        {"every cell kind, two sheets", [](const std::string& p) { save_book(p, fill_mixed); }, 207360,
         0xdf096d73f86b9312u},
        {"one small sheet (mini stream)",
         [](const std::string& p) {
             save_book(p, [](xlsbook::WorkbookFile& book) {
                 book.add_worksheet("sheet_1")->cell(0, 0)->set_text("ip");
             });
         },
         2560, 0xefa10dfded12a9a7u},
        {"no sheet", [](const std::string& p) { save_book(p, [](xlsbook::WorkbookFile&) {}); }, 2560,
         0xd7ee0ef75871cde4u},
        {"another writer's file saved again", [](const std::string& p) { resave_fixture(p, "mixed-lo.xls"); },
         6144, 0xa71f9d193c9d4b37u},
        {"long shared strings saved again",
         [](const std::string& p) { resave_fixture(p, "sst-continue-sheetjs.xls"); }, 265728,
         0xeb473228deaa01f2u},
    };
    kptest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("saved.xls");
        std::remove(path.c_str());
        c.save(path);
        const std::vector<uint8_t> bytes = kptest::read_file(path);
        EXPECT_EQ(bytes.size(), c.size);
        EXPECT_EQ(fingerprint(bytes), c.hash) << std::hex << "0x" << fingerprint(bytes);
    }
}

// A list loaded and saved unchanged comes out byte for byte as it went in.
TEST(SavedBytes, LoadedListSavedAgainIsTheSameFile) {
    kptest::TempDir dir;
    save_store(dir.file("first.xls"));
    factory::database store;
    ASSERT_TRUE(store.open(dir.file("first.xls"), rttr::type::get<factory::devicedatamanager>(), true));
    ASSERT_EQ(store.row_count(), 3001u);
    ASSERT_TRUE(store.save_as(dir.file("second.xls")));
    EXPECT_EQ(kptest::read_file(dir.file("first.xls")), kptest::read_file(dir.file("second.xls")));
}
