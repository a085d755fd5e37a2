// The report of a reboot batch of many simulated cameras, written while the batch runs. Each
// composer's reports go to the report as the window's rows send them (every report a step, the
// final one ends the camera). Prints the saves the batch cost (the header's not counted), the
// longest save, the batch's wall time, the wait for the last rows to reach the disk after the
// last camera ended, and the report's size; then the same for a burst of endings with no
// cameras behind them. Also the time Start takes, which the window spends on its own thread.
//
//   kp_batch_report_bench [cameras (1000)] [time scale (1)] [folder (batch_report_bench)]
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "RuDAVADO_control.h"
#include "batch_report.h"
#include "dealmodule.h"
#include "kp_platform.h"
#include "plate_cameras.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string CameraIp(int index) {
    return "10.4." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

void Print(const char* what, int cameras, const report::BatchReport& batch, double wall_ms, double flush_ms) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(batch.path(), error);
    std::printf(
        "%s: %d cameras, %d saves, longest save %.1f ms, wall %.0f ms, last rows on disk %.1f ms "
        "after the last end, report %.0f KiB\n",
        what, cameras, batch.saves() - 1, batch.longest_save_ms(), wall_ms, flush_ms,
        error ? 0.0 : bytes / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int cameras = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
    const std::string folder = argc > 3 ? argv[3] : "batch_report_bench";
    kp::setTimeScale(scale);
    RuDAVADO_SetTimeScale(scale);
    if (KpLPRClient_Setup() != 0 || !loadPlateCameras(cameras, CameraIp, 90000)) {
        std::fprintf(stderr, "the simulated cameras cannot be set up\n");
        return 1;
    }

    {
        // Start runs on the user-interface thread: it makes the file and saves the header.
        const Clock::time_point started = Clock::now();
        auto batch = report::BatchReport::Start(folder, "reboot", "");
        if (!batch) return 1;
        std::printf("start (file made, header saved): %.1f ms\n", MsSince(started));
        std::mutex lock;
        std::condition_variable ended;
        int remaining = cameras;
        std::vector<std::shared_ptr<factory::dealmodule>> deals;
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < cameras; ++i) {
            auto deal = std::make_shared<factory::dealmodule>();
            if (!deal->InitModules(0)) return 1;
            const int id = batch->AddCamera(CameraIp(i), std::to_string(90000 + i));
            deal->Reboot(CameraIp(i), 80, "admin", "tolvi", [&, id](bool ok, const std::string& text) {
                batch->Step(id, ok, text);
                if (ok && text != "完成") return true;
                batch->Finish(id, ok ? "设置成功" : "设置失败", "");
                std::lock_guard<std::mutex> guard(lock);
                if (--remaining == 0) ended.notify_all();
                return false;
            });
            deals.push_back(std::move(deal));
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            ended.wait(guard, [&] { return remaining == 0; });
        }
        const double wall_ms = MsSince(start);
        const Clock::time_point flush = Clock::now();
        batch->Flush();
        const double flush_ms = MsSince(flush);
        for (auto& deal : deals) deal->StopWorker();
        Print("reboot batch", cameras, *batch, wall_ms, flush_ms);
    }
    {
        auto batch = report::BatchReport::Start(folder, "burst", "");
        if (!batch) return 1;
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < cameras; ++i) {
            const int id = batch->AddCamera(CameraIp(i), std::to_string(90000 + i));
            batch->Step(id, true, "开始重启设备");
            batch->Finish(id, "设置成功", "");
        }
        const double wall_ms = MsSince(start);
        const Clock::time_point flush = Clock::now();
        batch->Flush();
        Print("burst of endings", cameras, *batch, wall_ms, MsSince(flush));
    }
    KpLPRClient_Cleanup();
    return 0;
}
