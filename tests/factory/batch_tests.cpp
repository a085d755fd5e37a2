// A batch as the window runs it: one composer per camera, all at once, each stopped after its
// final report.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "factory_test_support.h"
#include "sdkbase.h"

using namespace factory_test;

TEST(BatchTest, SixtyFourComposersReportOnceAndCloseEverySession) {
    constexpr int kCameras = 64;
    LoadNetwork(kCameras, kPlateFamily);
    TempDir dir;
    std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    auto refused = [](int i) { return i == 7 || i == 40; };  // failures travel the same road

    std::vector<std::shared_ptr<factory::dealmodule>> deals;
    std::vector<std::unique_ptr<ReportLog>> logs;
    for (int i = 0; i < kCameras; ++i) {
        deals.push_back(std::make_shared<factory::dealmodule>());
        logs.push_back(std::make_unique<ReportLog>());
        ASSERT_TRUE(deals[i]->InitModules(1)) << i;
        std::string ip = CameraIp(i);
        std::string password = refused(i) ? "wrong" : kPassword;
        auto progress = logs[i]->callback();
        switch (i % 5) {
            case 0:
                deals[i]->SetPassword(ip, 80, kUser, password, "pw" + std::to_string(i), progress);
                break;
            case 1:
                deals[i]->SetTime(ip, 80, kUser, password, progress);
                break;
            case 2:
                deals[i]->Restore(ip, 80, kUser, password, factory::SDK_RESTORE_PART, progress);
                break;
            case 3:
                deals[i]->Reboot(ip, 80, kUser, password, progress);
                break;
            default:
                deals[i]->Upgrade(ip, 80, kUser, password, package, progress, [](int, int) {});
                break;
        }
    }
    for (int i = 0; i < kCameras; ++i) {
        ASSERT_TRUE(logs[i]->waitFinal(std::chrono::seconds(120))) << i;
        deals[i]->StopWorker();
    }
    for (int i = 0; i < kCameras; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(1, logs[i]->finals());
        EXPECT_EQ(refused(i) ? Report(false, "设备登陆失败") : Report(true, "完成"),
                  logs[i]->reports().back());
        RuDAVADO_CameraState state = CameraState(i);
        EXPECT_EQ(0, state.sessions);
        if (i % 5 == 4) {
            EXPECT_STREQ(refused(i) ? "3.2.1.15" : "3.2.1.16", state.firmware);
        }
    }
}
