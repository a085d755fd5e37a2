// A batch as the main window runs it: one composer per camera, all at once, each stopped after
// its final report.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "factory_test_support.h"
#include "sdkbase.h"

using namespace factory_test;
using factory::dealmodule;

TEST(BatchTest, SixtyFourComposersReportOnceAndCloseEverySession) {
    constexpr int kCameras = 64;
    LoadNetwork(kCameras, kPlateFamily);
    TempDir dir;
    std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    // Two cameras refuse the login, so failures travel the same road as successes.
    const int kWrongPassword[] = {7, 40};

    std::vector<std::shared_ptr<dealmodule>> deals(kCameras);
    std::vector<std::unique_ptr<ReportLog>> logs(kCameras);
    std::vector<std::unique_ptr<UpgradeLog>> upgrades(kCameras);
    for (int i = 0; i < kCameras; ++i) {
        deals[i] = std::make_shared<dealmodule>();
        logs[i] = std::make_unique<ReportLog>();
        upgrades[i] = std::make_unique<UpgradeLog>();
        ASSERT_TRUE(deals[i]->InitModules(1)) << i;
        std::string ip = CameraIp(i);
        std::string password = (i == kWrongPassword[0] || i == kWrongPassword[1]) ? "wrong" : kPassword;
        switch (i % 5) {
            case 0: deals[i]->SetPassword(ip, 80, kUser, password, "pw" + std::to_string(i), logs[i]->callback()); break;
            case 1: deals[i]->SetTime(ip, 80, kUser, password, logs[i]->callback()); break;
            case 2: deals[i]->Restore(ip, 80, kUser, password, factory::SDK_RESTORE_PART, logs[i]->callback()); break;
            case 3: deals[i]->Reboot(ip, 80, kUser, password, logs[i]->callback()); break;
            default:
                deals[i]->Upgrade(ip, 80, kUser, password, package, logs[i]->callback(), upgrades[i]->callback());
                break;
        }
    }
    for (int i = 0; i < kCameras; ++i) {
        ASSERT_TRUE(logs[i]->waitFinal(1, std::chrono::seconds(120))) << i;
        deals[i]->StopWorker();
    }
    for (int i = 0; i < kCameras; ++i) {
        SCOPED_TRACE(i);
        std::vector<Report> reports = logs[i]->reports();
        EXPECT_EQ(1, logs[i]->finals());
        ASSERT_FALSE(reports.empty());
        bool wrong = i == kWrongPassword[0] || i == kWrongPassword[1];
        if (wrong) {
            EXPECT_EQ(Report(false, "设备登陆失败"), reports.back());
        } else {
            EXPECT_EQ(Report(true, "完成"), reports.back());
        }
        EXPECT_EQ(0, CameraState(i).sessions);
        if (i % 5 == 4 && !wrong) {
            EXPECT_STREQ("3.2.1.16", CameraState(i).firmware);
            EXPECT_EQ(std::make_pair(1, 100), upgrades[i]->calls().back());
        }
    }
    deals.clear();
}
