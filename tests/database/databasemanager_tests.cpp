// The store manager on the real data files, in a fresh working directory per test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "database.h"
#include "databasemanager.h"
#include "test_support.h"

using factory::databasemanager;
using factory::devicedatamanager;

namespace {

devicedatamanager device(const std::string& ip, unsigned port = 8000, const std::string& user = "admin",
                         const std::string& password = "pw") {
    devicedatamanager d;
    d.set_ip(ip);
    d.set_port(port);
    d.set_user_name(user);
    d.set_password(password);
    return d;
}

std::vector<std::string> ips(const std::pmr::map<int, devicedatamanager>& cache) {
    std::vector<std::string> out;
    for (const auto& entry : cache) out.push_back(entry.second.get_ip());
    return out;
}

class DatabaseManager : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(db_, nullptr) << "the instance exists before main"; }
    void TearDown() override { db_->clear_cache(); }
    kptest::TempDir dir_;
    databasemanager* db_ = databasemanager::instance();
};

}  // namespace

TEST_F(DatabaseManager, FirstStartCreatesFolderAndPrivateFileWithEmptyList) {
    ASSERT_TRUE(db_->init());
    struct stat st {};
    ASSERT_EQ(::stat("log_data", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(::stat("devicedatamanager.xls", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the list holds passwords";
    EXPECT_TRUE(db_->load_all().empty());
    ASSERT_TRUE(db_->save());
    ASSERT_EQ(::stat("devicedatamanager.xls", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(DatabaseManager, ChangesReachTheDiskOnlyThroughSave) {
    ASSERT_TRUE(db_->init());
    ASSERT_TRUE(db_->add_device(device("192.0.2.1", 8000, "管理员", "Pa55")));
    EXPECT_EQ(ips(db_->load_all()), (std::vector<std::string>{"192.0.2.1"})) << "cache built from memory";
    ASSERT_TRUE(db_->init());  // a restart without save
    EXPECT_TRUE(db_->load_all().empty());

    ASSERT_TRUE(db_->add_device(device("192.0.2.1", 8000, "管理员", "Pa55")));
    ASSERT_TRUE(db_->add_device(device("192.0.2.2", 80)));
    ASSERT_TRUE(db_->save());
    ASSERT_TRUE(db_->init());
    const auto& cache = db_->load_all();
    ASSERT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.begin()->first, 1);
    EXPECT_EQ(cache.at(1), device("192.0.2.1", 8000, "管理员", "Pa55"));
    EXPECT_EQ(cache.at(2), device("192.0.2.2", 80));
}

TEST_F(DatabaseManager, DuplicateIpsAndNearMatches) {
    ASSERT_TRUE(db_->init());
    ASSERT_TRUE(db_->add_device(device("10.0.0.1", 1)));
    ASSERT_TRUE(db_->add_device(device("10.0.0.10", 2)));
    ASSERT_TRUE(db_->add_device(device("10.0.0.1", 3)));
    ASSERT_TRUE(db_->add_device(device("Host-A", 4)));

    // Only exact bytes match: no prefix, no trailing characters, no case folding.
    EXPECT_FALSE(db_->update_device("10.0.0", device("x")));
    EXPECT_FALSE(db_->update_device("10.0.0.1 ", device("x")));
    EXPECT_FALSE(db_->delete_device("host-a"));
    EXPECT_FALSE(db_->delete_device(""));

    ASSERT_TRUE(db_->update_device("10.0.0.1", device("10.0.0.1", 11)));  // the upper one only
    auto cache = db_->load_all();
    EXPECT_EQ(cache.at(1).get_port(), 11u);
    EXPECT_EQ(cache.at(3).get_port(), 3u);

    ASSERT_TRUE(db_->delete_device("10.0.0.1"));
    cache = db_->load_all();
    EXPECT_EQ(ips(cache), (std::vector<std::string>{"10.0.0.10", "10.0.0.1", "Host-A"}));
    EXPECT_EQ(cache.at(2).get_port(), 3u);
}

TEST_F(DatabaseManager, EraseFirstLastAndOnlyDevice) {
    ASSERT_TRUE(db_->init());
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(db_->add_device(device("d" + std::to_string(i), i)));
    ASSERT_TRUE(db_->delete_device("d3"));
    EXPECT_EQ(ips(db_->load_all()), (std::vector<std::string>{"d1", "d2"}));
    ASSERT_TRUE(db_->delete_device("d1"));
    EXPECT_EQ(ips(db_->load_all()), (std::vector<std::string>{"d2"}));
    ASSERT_TRUE(db_->delete_device("d2"));
    EXPECT_TRUE(db_->load_all().empty());
    EXPECT_FALSE(db_->delete_device("d2"));
    ASSERT_TRUE(db_->save());
    ASSERT_TRUE(db_->init());
    EXPECT_TRUE(db_->load_all().empty()) << "the header row alone";
}

TEST_F(DatabaseManager, SpreadsheetEditsKeepEveryDeviceReachable) {
    // The LibreOffice list's third device has no password cell. A technician added a remark
    // column with a 16-bit header, typed a stray cell further right, and broke one port.
    {
        xlsbook::WorkbookFile book;
        ASSERT_TRUE(book.load(kptest::fixture("devices-lo.xls")));
        xlsbook::WorksheetView* s = book.find_worksheet("sheet_1");
        s->cell(0, 4)->set_wide_text(u"备注");
        s->cell(1, 4)->set_wide_text(u"门口");
        s->cell(2, 6)->set_text("stray");
        s->cell(4, 0)->set_text("192.0.2.99");
        s->cell(4, 1)->set_text("bad port");
        s->cell(5, 0)->set_text("192.0.2.50");
        s->cell(5, 1)->set_integer(80);
        ASSERT_TRUE(book.save_as("devicedatamanager.xls"));
    }
    ASSERT_TRUE(db_->init());
    {
        kptest::LogCapture log;
        const auto& cache = db_->load_all();
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"extracted_value convert failed", " failed"}));
        ASSERT_EQ(cache.size(), 5u);
        EXPECT_EQ(cache.at(1), device("192.0.2.10", 8000, "admin", "Adm1n!2024"));
        EXPECT_EQ(cache.at(2), device("192.0.2.11", 8000, "管理员", "Pa55word"));
        EXPECT_EQ(cache.at(3), device("198.51.100.7", 37777, "operator", ""));
        EXPECT_EQ(cache.at(5), device("192.0.2.50", 80, "", ""));
    }
    // Rows below the unreadable one are found; the unreadable row itself is passed over.
    EXPECT_TRUE(db_->update_device("192.0.2.50", device("192.0.2.50", 81, "root", "pw")));
    EXPECT_FALSE(db_->update_device("192.0.2.99", device("192.0.2.99")));
    EXPECT_TRUE(db_->update_device("198.51.100.7", device("198.51.100.7", 37777, "operator", "new")));
    EXPECT_TRUE(db_->delete_device("192.0.2.10"));
    ASSERT_TRUE(db_->save());
    ASSERT_TRUE(db_->init());
    const auto& cache = db_->load_all();
    EXPECT_EQ(ips(cache),
              (std::vector<std::string>{"192.0.2.11", "198.51.100.7", "192.0.2.99", "192.0.2.50"}));
    EXPECT_EQ(cache.at(2).get_password(), "new");
    EXPECT_EQ(cache.at(4), device("192.0.2.50", 81, "root", "pw"));
    // The remark column is kept and its cells moved up with their rows.
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load("devicedatamanager.xls"));
    xlsbook::WorksheetView* s = book.find_worksheet("sheet_1");
    EXPECT_EQ(kptest::cell_utf8(*s->find_cell(0, 4)), "备注");
    EXPECT_EQ(kptest::cell_utf8(*s->find_cell(1, 6)), "stray");
    EXPECT_TRUE(!s->find_cell(1, 4) || s->find_cell(1, 4)->kind() == xlsbook::CellValue::kUndefined);
}

TEST_F(DatabaseManager, ColumnInsertedBetweenThePropertiesKeepsItsLabel) {
    {
        xlsbook::WorkbookFile book;
        xlsbook::WorksheetView* s = book.add_worksheet("sheet_1");
        const char* header[] = {"ip", "remark", "port", "user_name", "password"};
        for (size_t c = 0; c < 5; ++c) s->cell(0, c)->set_text(header[c]);
        s->cell(1, 0)->set_text("192.0.2.1");
        s->cell(1, 1)->set_text("lobby");
        s->cell(1, 2)->set_integer(8000);
        s->cell(1, 3)->set_text("admin");
        s->cell(1, 4)->set_text("secret");
        ASSERT_TRUE(book.save_as("devicedatamanager.xls"));
    }
    ASSERT_TRUE(db_->init());
    EXPECT_EQ(db_->load_all().at(1), device("192.0.2.1", 8000, "admin", "secret"));
}

TEST_F(DatabaseManager, LongPasswordSurvivesARestart) {
    std::string cjk;
    for (int i = 0; i < 43; ++i) cjk += "码";
    ASSERT_TRUE(db_->init());
    ASSERT_TRUE(db_->add_device(device("192.0.2.1", 80, "admin", std::string(128, 'p'))));
    ASSERT_TRUE(db_->add_device(device("192.0.2.2", 80, cjk, cjk)));
    ASSERT_TRUE(db_->save());
    ASSERT_TRUE(db_->init());
    const auto& cache = db_->load_all();
    EXPECT_EQ(cache.at(1).get_password(), std::string(128, 'p'));
    EXPECT_EQ(cache.at(2), device("192.0.2.2", 80, cjk, cjk));
}

TEST_F(DatabaseManager, DamagedListIsKeptAsideAndTheToolStartsEmpty) {
    const std::vector<uint8_t> damaged = kptest::read_file(kptest::fixture("not-cfb.xls"));
    kptest::write_file("devicedatamanager.xls", damaged);
    ASSERT_TRUE(db_->init());
    EXPECT_TRUE(db_->load_all().empty());
    ASSERT_TRUE(db_->add_device(device("192.0.2.1")));
    ASSERT_TRUE(db_->save());
    FILE* p = ::popen("ls devicedatamanager.xls.unreadable-*", "r");
    char name[256] = {};
    ASSERT_TRUE(p && std::fgets(name, sizeof name, p));
    ::pclose(p);
    EXPECT_EQ(kptest::read_file(std::string(name, std::strcspn(name, "\n"))), damaged);
}

TEST_F(DatabaseManager, ListWithoutReadPermissionIsKeptAndNeverSavedOver) {
    // Root reads any file: the manager then runs in a child that has given up root.
    const std::vector<uint8_t> original = kptest::read_file(kptest::fixture("devices-lo.xls"));
    kptest::write_file("devicedatamanager.xls", original);
    ::chmod("devicedatamanager.xls", 0);
    auto scenario = [this]() {
        kptest::LogCapture log;
        int faults = 0;
        faults |= db_->init() ? 1 : 0;
        faults |= db_->load_all().empty() ? 0 : 2;
        faults |= db_->save() ? 4 : 0;
        const std::vector<std::string> expected = {
            "workbook cannot be read (access denied), left as it is: devicedatamanager.xls",
            "data_base_log_  Open failed ", "basic_work_sheet_ is NULL ",
            "workbook was never read, not replacing it: devicedatamanager.xls",
            "data_base_hardware_ close failed "};
        faults |= log.messages() == expected ? 0 : 8;
        return faults;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(scenario(), 0);
    } else {
        ASSERT_EQ(::chown(dir_.path().c_str(), 65534, 65534), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
            ::_exit(scenario());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1 init, 2 load_all, 4 save, 8 log lines";
    }
    EXPECT_EQ(kptest::read_file("devicedatamanager.xls"), original);
    EXPECT_EQ(::system("ls devicedatamanager.xls.unreadable-* >/dev/null 2>&1"), 512)
        << "nothing moved aside";
}

TEST_F(DatabaseManager, ExportAndItsFailure) {
    ASSERT_TRUE(db_->init());
    ASSERT_TRUE(db_->add_device(device("192.0.2.1")));
    ASSERT_TRUE(db_->save_as("export.xls"));
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load("export.xls"));
    EXPECT_EQ(book.find_worksheet("sheet_1")->total_rows(), 2u);
    kptest::LogCapture log;
    EXPECT_FALSE(db_->save_as("no-such-folder/export.xls"));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"data_base_hardware_ close failed "}));
}

TEST_F(DatabaseManager, ListIsFullAt65536Rows) {
    ASSERT_TRUE(db_->init());
    for (int i = 1; i < 65536; ++i) ASSERT_TRUE(db_->add_device(device("10.1." + std::to_string(i))));
    kptest::LogCapture log;
    EXPECT_FALSE(db_->add_device(device("one.too.many")));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"Cell is empty : ", "data is not atomic type ",
                                                        "SaveLogManager failed"}));
    ASSERT_TRUE(db_->save());
    ASSERT_TRUE(db_->init());
    const auto& cache = db_->load_all();
    ASSERT_EQ(cache.size(), 65535u);
    EXPECT_EQ(cache.rbegin()->second.get_ip(), "10.1.65535");
}

TEST_F(DatabaseManager, CallsFromSeveralThreadsAreSerialised) {
    ASSERT_TRUE(db_->init());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 50; ++i) {
                db_->add_device(device("t" + std::to_string(t) + "-" + std::to_string(i)));
                if (i % 10 == 0) db_->save();
                if (i % 7 == 0) db_->delete_device("t" + std::to_string(t) + "-" + std::to_string(i));
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(db_->load_all().size(), 4u * (50 - 8));
}
