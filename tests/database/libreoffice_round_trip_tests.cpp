// A list saved by the store, re-saved by LibreOffice with a remark column added, loads whole and
// every device in it can be updated and deleted. LibreOffice drops the empty text cells of the
// devices without user name or password, and stores its own record layout.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "databasemanager.h"
#include "test_support.h"

using factory::devicedatamanager;

namespace {

devicedatamanager device(int i) {
    devicedatamanager d;
    d.set_ip("10.20." + std::to_string(i / 100) + "." + std::to_string(i % 100));
    d.set_port(i % 2 ? 8000u : 37777u);
    if (i % 3 == 0) {
        d.set_user_name("管理员");
        d.set_password("pw-" + std::to_string(i));
    }
    return d;
}

// Runs LibreOffice headless with a profile of its own; false when it fails or takes too long.
bool soffice(const std::string& folder, const std::string& arguments) {
    const std::string command = "cd '" + folder + "' && HOME='" + folder +
                                "/home' timeout 600 soffice --headless " + "-env:UserInstallation=file://" +
                                folder + "/profile " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

TEST(LibreOfficeRoundTrip, ListResavedWithAnExtraColumnKeepsEveryDeviceReachable) {
    if (std::system("command -v soffice >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "soffice is missing: scripts/install-deps.sh installs libreoffice-calc-nogui";
    kptest::TempDir dir;
    factory::databasemanager* db = factory::databasemanager::instance();
    ASSERT_TRUE(db->init());
    for (int i = 1; i <= 200; ++i) ASSERT_TRUE(db->add_device(device(i)));
    ASSERT_TRUE(db->save());

    // LibreOffice reads our file into text, the remark column is added there, and LibreOffice
    // writes the workbook again (the sheet takes the text file's name).
    ASSERT_TRUE(soffice(dir.path(),
                        "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir out "
                        "devicedatamanager.xls"));
    std::ifstream in(dir.file("out/devicedatamanager.csv"));
    std::ofstream edited(dir.file("sheet_1.csv"));
    std::string line;
    for (int row = 0; std::getline(in, line); ++row)
        edited << line << (row ? ",remark " + std::to_string(row) : ",备注") << "\n";
    edited.close();
    ASSERT_TRUE(soffice(
        dir.path(), "--infilter=CSV:44,34,76,1 --convert-to 'xls:MS Excel 97' --outdir back sheet_1.csv"));
    kptest::write_file("devicedatamanager.xls", kptest::read_file(dir.file("back/sheet_1.xls")));

    ASSERT_TRUE(db->init());
    {
        const auto& cache = db->load_all();
        ASSERT_EQ(cache.size(), 200u);
        for (int i = 1; i <= 200; ++i) EXPECT_EQ(cache.at(i), device(i)) << i;
    }
    for (int i = 1; i <= 200; ++i) {
        devicedatamanager changed = device(i);
        changed.set_password("new-" + std::to_string(i));
        EXPECT_TRUE(db->update_device(changed.get_ip(), changed)) << i;
    }
    for (int i = 1; i <= 200; i += 2) EXPECT_TRUE(db->delete_device(device(i).get_ip())) << i;
    ASSERT_TRUE(db->save());
    ASSERT_TRUE(db->init());
    const auto& cache = db->load_all();
    ASSERT_EQ(cache.size(), 100u);
    for (const auto& entry : cache) {
        const int i = 2 * entry.first;
        EXPECT_EQ(entry.second.get_ip(), device(i).get_ip());
        EXPECT_EQ(entry.second.get_password(), "new-" + std::to_string(i));
    }
    db->clear_cache();
}
