// The batch engine on the simulated cameras: the policy (cameras at once, canary, failure limit,
// stop), one end and one complete report row per camera, and the status rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "factory_test_support.h"
#include "report_rows.h"
#ifndef _WIN32
#include "thread_refusal.h"
#endif

using namespace factory_test;

namespace {

// Every call the batch made, checked after Wait.
struct Recorder : batch::Observer {
    std::map<int, int> starts;
    std::map<int, batch::Final> finals;
    std::map<int, int> finishes;
    int running = 0;
    int most = 0;
    int ends = 0;
    int ended_before_end = 0;
    std::promise<void> first_write;
    bool write_seen = false;

    void OnStart(int camera) override {
        ++starts[camera];
        most = std::max(most, ++running);
    }
    void OnUpgradeProgress(int, DeviceStatus status, int) override {
        if (status == DEVICE_STATUS_UPDATING && !write_seen) {
            write_seen = true;
            first_write.set_value();
        }
    }
    void OnFinish(int camera, const batch::Final& final) override {
        if (starts.count(camera)) --running;
        finals[camera] = final;
        ++finishes[camera];
    }
    void OnEnd(int, int) override {
        ++ends;
        ended_before_end = static_cast<int>(finals.size());
    }
};

std::vector<batch::Target> Targets(int count, const std::vector<int>& wrong_password = {}) {
    std::vector<batch::Target> targets;
    for (int i = 0; i < count; ++i) {
        const bool wrong = std::find(wrong_password.begin(), wrong_password.end(), i) != wrong_password.end();
        targets.push_back(batch::Target{CameraIp(i), 80, kUser, wrong ? "wrong" : kPassword, 0, 0});
    }
    return targets;
}

// 'S' succeeded, 'F' failed, 'N' not started: one letter per camera.
std::string Outcomes(const Recorder& recorder, int count) {
    std::string letters;
    for (int i = 0; i < count; ++i) {
        const auto found = recorder.finals.find(i);
        if (found == recorder.finals.end()) {
            letters += '?';
        } else {
            letters += found->second.ok ? 'S' : found->second.status == DEVICE_STATUS_NOT_STARTED ? 'N' : 'F';
        }
    }
    return letters;
}

struct PolicyCase {
    const char* name;
    int cameras;
    batch::Policy policy;
    std::vector<int> failing;
    std::string outcomes;
    const char* not_started_reason;
};

TEST(BatchPolicy, EachPolicyStartsWhatItShouldAndEndsEveryCameraOnceWithItsRow) {
    const PolicyCase cases[] = {
        {"all at once", 6, {0, 0, 0}, {2}, "SSFSSS", ""},
        {"two at once", 6, {2, 0, 0}, {}, "SSSSSS", ""},
        {"canary fails", 6, {0, 1, 0}, {0}, "FNNNNN", batch::kReasonCanary},
        {"canaries fail at once", 6, {0, 2, 0}, {1}, "SFNNNN", batch::kReasonCanary},
        {"canary passes", 6, {0, 2, 0}, {4}, "SSSSFS", ""},
        {"failure limit", 8, {1, 0, 2}, {1, 3}, "SFSFNNNN", batch::kReasonFailureLimit},
        {"limit not reached", 5, {1, 0, 3}, {1, 3}, "SFSFS", ""},
    };
    for (const PolicyCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoadNetwork(c.cameras, kPlateFamily);
        TempDir dir;
        auto report = report::BatchReport::Start(dir.path("reports"), "reboot", "");
        ASSERT_TRUE(report);
        auto recorder = std::make_shared<Recorder>();
        auto run = batch::Batch::Create(batch::Operation::Reboot, batch::Arguments(),
                                        Targets(c.cameras, c.failing), c.policy, recorder, report);
        ASSERT_TRUE(run->Start());
        run->Wait();

        EXPECT_EQ(c.outcomes, Outcomes(*recorder, c.cameras));
        EXPECT_EQ(1, recorder->ends);
        EXPECT_EQ(c.cameras, recorder->ended_before_end);
        if (c.policy.parallel > 0) {
            EXPECT_LE(recorder->most, c.policy.parallel);
        }
        EXPECT_EQ(static_cast<int>(std::count(c.outcomes.begin(), c.outcomes.end(), 'S')), run->succeeded());
        ASSERT_TRUE(report->Flush());
        const kptest::ReportRows rows = kptest::LoadReportRows(report->path());
        ASSERT_EQ(static_cast<size_t>(c.cameras + 1), rows.size());
        for (int i = 0; i < c.cameras; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(1, recorder->finishes[i]);
            const batch::Final& final = recorder->finals[i];
            const bool not_started = c.outcomes[i] == 'N';
            EXPECT_EQ(not_started ? 0 : 1, recorder->starts[i]);
            // A camera the batch did not start was never touched.
            if (c.outcomes[i] != 'S') {
                EXPECT_EQ(0, CameraState(i).boots);
            }
            EXPECT_EQ(0, CameraState(i).sessions);
            if (not_started) {
                EXPECT_EQ(c.not_started_reason, final.reason);
            }
            if (c.outcomes[i] == 'F') {
                EXPECT_EQ("设备登陆失败", final.reason);
            }
            const auto row =
                std::find_if(rows.begin() + 1, rows.end(),
                             [&](const std::vector<std::string>& r) { return r[0] == CameraIp(i); });
            ASSERT_NE(rows.end(), row);
            EXPECT_EQ(final.text, (*row)[7]);
            EXPECT_FALSE((*row)[5].empty());  // its end
            if (not_started) {
                EXPECT_NE(std::string::npos, (*row)[6].find(c.not_started_reason));
            }
        }
    }
}

TEST(BatchPolicy, StopMidUpgradeLetsTheRunningOnesFinishStartsNoneAndReportsEveryCamera) {
    constexpr int kCameras = 200;
    LoadNetwork(kCameras, kPlateFamily);
    TempDir dir;
    const std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    auto report = report::BatchReport::Start(dir.path("reports"), "upgrade", "");
    ASSERT_TRUE(report);
    batch::Arguments arguments;
    arguments.file = package;
    auto recorder = std::make_shared<Recorder>();
    std::future<void> first_write = recorder->first_write.get_future();
    auto run = batch::Batch::Create(batch::Operation::Upgrade, arguments, Targets(kCameras),
                                    batch::Policy{16, 0, 0}, recorder, report);
    ASSERT_TRUE(run->Start());
    first_write.wait();
    run->Stop();
    run->Wait();

    ASSERT_TRUE(report->Flush());
    const kptest::ReportRows rows = kptest::LoadReportRows(report->path());
    ASSERT_EQ(static_cast<size_t>(kCameras + 1), rows.size());
    const int started = static_cast<int>(recorder->starts.size());
    EXPECT_GE(started, 1);
    EXPECT_LT(started, kCameras);
    for (int i = 0; i < kCameras; ++i) {
        SCOPED_TRACE(i);
        const batch::Final& final = recorder->finals[i];
        const RuDAVADO_CameraState state = CameraState(i);
        if (recorder->starts.count(i)) {
            // Never cut off mid-write: the upgrade went through and was checked.
            EXPECT_EQ(DEVICE_STATUS_UPDATE_SUCCESS, final.status);
            EXPECT_EQ("verified", final.verification);
            EXPECT_STREQ("3.2.1.16", state.firmware);
        } else {
            EXPECT_EQ(DEVICE_STATUS_NOT_STARTED, final.status);
            EXPECT_EQ(batch::kReasonStopped, final.reason);
            EXPECT_STREQ("3.2.1.15", state.firmware);
        }
        EXPECT_EQ(0, state.sessions);
    }
    for (size_t r = 1; r < rows.size(); ++r) {
        SCOPED_TRACE(rows[r][0]);
        for (int column : {0, 2, 4, 5, 6, 7}) EXPECT_FALSE(rows[r][column].empty()) << column;
    }
}

// Cameras hand their reports over and go on; whoever tells them, the observer still hears one
// call at a time, each camera in order, and the cameras Start started from Start itself.
struct OrderChecker : batch::Observer {
    explicit OrderChecker(int cameras) : phase(static_cast<size_t>(cameras), 0) {}
    std::vector<int> phase;  // 0 waiting, 1 started, 2 ended
    std::atomic<int> inside{0};
    int overlaps = 0, out_of_order = 0, ends = 0, started_by_caller = 0;
    std::thread::id caller = std::this_thread::get_id();

    void Enter() {
        if (inside.fetch_add(1) != 0) ++overlaps;
    }
    void Leave() { inside.fetch_sub(1); }
    void OnStart(int camera) override {
        Enter();
        if (phase[camera] != 0) ++out_of_order;
        phase[camera] = 1;
        if (std::this_thread::get_id() == caller) {
            ++started_by_caller;
            // A slow caller: the cameras report meanwhile, and nobody else may tell them yet.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        Leave();
    }
    void OnStep(int camera, bool, const std::string&) override {
        Enter();
        if (phase[camera] != 1) ++out_of_order;
        Leave();
    }
    void OnFinish(int camera, const batch::Final&) override {
        Enter();
        if (phase[camera] == 2) ++out_of_order;
        phase[camera] = 2;
        Leave();
    }
    void OnEnd(int, int) override {
        Enter();
        ++ends;
        if (std::count(phase.begin(), phase.end(), 2) != static_cast<long>(phase.size())) ++out_of_order;
        Leave();
    }
};

TEST(BatchPolicy, ObserverCallsNeverOverlapAndKeepEachCamerasOrder) {
    constexpr int kCameras = 48;
    LoadNetwork(kCameras, kPlateFamily);
    TempDir dir;
    auto report = report::BatchReport::Start(dir.path("reports"), "reboot", "");
    ASSERT_TRUE(report);
    auto checker = std::make_shared<OrderChecker>(kCameras);
    auto run = batch::Batch::Create(batch::Operation::Reboot, batch::Arguments(), Targets(kCameras, {5}),
                                    batch::Policy{16, 0, 0}, checker, report);
    ASSERT_TRUE(run->Start());
    run->Wait();

    EXPECT_EQ(0, checker->overlaps);
    EXPECT_EQ(0, checker->out_of_order);
    EXPECT_EQ(1, checker->ends);
    // The window shows the first cameras as running when Start returns.
    EXPECT_EQ(16, checker->started_by_caller);
    ASSERT_TRUE(report->Flush());
    const kptest::ReportRows rows = kptest::LoadReportRows(report->path());
    ASSERT_EQ(static_cast<size_t>(kCameras + 1), rows.size());
    for (size_t r = 1; r < rows.size(); ++r) {
        SCOPED_TRACE(rows[r][0]);
        for (int column : {0, 4, 5, 6, 7}) EXPECT_FALSE(rows[r][column].empty()) << column;
    }
}

TEST(BatchStatus, FinalStatusesTextsAndNamesComeFromOneTable) {
    using batch::ResultKind;
    const struct {
        ResultKind kind;
        bool ok;
        const char* text;
        const char* status;
    } finals[] = {
        {ResultKind::Setting, true, "完成", "设置成功"},
        {ResultKind::Setting, false, "设备登陆失败", "设置失败"},
        {ResultKind::Export, true, "完成", "导出成功"},
        {ResultKind::Export, false, "", "导出失败"},
        {ResultKind::Upgrade, false, "完成", "升级成功"},
        // Only "完成" ends an upgrade well; a successful step text is not enough.
        {ResultKind::Upgrade, true, "升级成功", "升级失败"},
        {ResultKind::Upgrade, false, "升级失败", "升级失败"},
    };
    for (const auto& f : finals) {
        EXPECT_EQ(f.status, batch::StatusText(batch::FinalStatus(f.kind, f.ok, f.text))) << f.text;
    }
    EXPECT_FALSE(batch::EndsCamera(true, "开始时间检查"));
    EXPECT_TRUE(batch::EndsCamera(true, "完成"));
    EXPECT_TRUE(batch::EndsCamera(false, "设备登陆失败"));

    const std::map<int, DeviceStatus> states = {
        {2, DEVICE_STATUS_UPDATING},       {1, DEVICE_STATUS_UPDATE_SUCCESS},
        {4, DEVICE_STATUS_UPDATE_SUCCESS}, {3, DEVICE_STATUS_UPDATE_CANCEL},
        {-1, DEVICE_STATUS_UPDATE_FAILED}, {0, DEVICE_STATUS_IDLE}};
    for (const auto& s : states) EXPECT_EQ(s.second, batch::UpgradeStatus(s.first)) << s.first;
    EXPECT_EQ("未开始", batch::StatusText(DEVICE_STATUS_NOT_STARTED));
    EXPECT_EQ(DeviceStatusClass::Failure, deviceStatusClass(DEVICE_STATUS_NOT_STARTED));
    EXPECT_EQ("", batch::StatusText(kDeviceStatusCount));

    const std::map<batch::Operation, std::string> names = {{batch::Operation::Upgrade, "upgrade"},
                                                           {batch::Operation::ImportConfig, "import_config"},
                                                           {batch::Operation::ExportConfig, "export_config"},
                                                           {batch::Operation::Network, "network"},
                                                           {batch::Operation::Password, "password"},
                                                           {batch::Operation::Reboot, "reboot"}};
    for (const auto& n : names) EXPECT_EQ(n.second, batch::ReportName(n.first));
}

TEST(BatchPolicy, ASilentCameraFailsAtOnceWhenAskedFirstAndAStopBeforeStartStartsNone) {
    LoadNetwork(3, kPlateFamily);
    RuDAVADO_SetPower(1, 0);
    batch::Arguments arguments;
    arguments.identify_first = true;
    auto recorder = std::make_shared<Recorder>();
    auto run = batch::Batch::Create(batch::Operation::Time, arguments, Targets(3), batch::Policy(), recorder,
                                    nullptr);
    ASSERT_TRUE(run->Start());
    run->Wait();
    EXPECT_EQ("SFS", Outcomes(*recorder, 3));
    EXPECT_EQ("设备无应答", recorder->finals[1].reason);

    auto stopped = std::make_shared<Recorder>();
    run = batch::Batch::Create(batch::Operation::Reboot, batch::Arguments(), Targets(3), batch::Policy(),
                               stopped, nullptr);
    run->Stop();
    ASSERT_TRUE(run->Start());
    run->Wait();
    EXPECT_EQ("NNN", Outcomes(*stopped, 3));
    EXPECT_TRUE(stopped->starts.empty());
}

// The refusal shim stands in for the C library's thread start, which only exists off Windows.
#ifndef _WIN32
TEST(BatchPolicy, RefusedThreadsEndTheirCamerasAsFailuresAndTheBatchStillEnds) {
    const struct {
        const char* name;
        long allowed;   // thread starts that succeed first
        long refusals;  // then refused (negative: all)
        std::string outcomes;
        bool started;
    } cases[] = {
        {"the batch's own thread", 0, -1, "FFF", false},
        {"the first two cameras' workers", 1, 2, "FFS", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoadNetwork(3, kPlateFamily);
        auto recorder = std::make_shared<Recorder>();
        auto run = batch::Batch::Create(batch::Operation::Time, batch::Arguments(), Targets(3),
                                        batch::Policy{1, 0, 0}, recorder, nullptr);
        {
            test::ThreadRefusal refuse(c.allowed, c.refusals);
            // One camera at a time: the refusals meet the first cameras' workers in order.
            EXPECT_EQ(c.started, run->Start());
            run->Wait();
        }
        EXPECT_EQ(c.outcomes, Outcomes(*recorder, 3));
        EXPECT_EQ(1, recorder->ends);
        for (int i = 0; i < 3; ++i) {
            if (c.outcomes[i] == 'F') {
                EXPECT_EQ(batch::kReasonNoThread, recorder->finals[i].reason) << i;
            }
        }
    }
}
#endif

}  // namespace
