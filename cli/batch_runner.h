// Runs one operation on many cameras, one job composer each, with at most N composers at once.
//
//   cli::BatchRunner runner(cli::ResultKind::Setting);
//   runner.Run(targets.size(), parallel, [&](const Deal& deal, int i, const Reports& reports) {
//       deal->Reboot(targets[i].ip, ..., reports.progress);
//   }, observer);
//
// Jobs report on their worker threads; the runner hands every report to the observer on the
// thread that called Run, in arrival order, and starts the next camera when one has ended. A
// camera has ended with its first failure or with "完成", as a row of the window does.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dealmodule.h"

namespace cli {

// Which pair of final texts a camera gets, as the window's rows.
enum class ResultKind {
    Setting,  // "设置成功" / "设置失败"
    Export,   // "导出成功" / "导出失败"
    Upgrade,  // "升级成功" when the final text is "完成", else "升级失败"
};

// The final text of a camera and whether it counts as a success.
struct FinalResult {
    bool ok = false;
    std::string status;
};
FinalResult FinalStatus(ResultKind kind, bool ok, const std::string& text);

class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    virtual void OnStart(int /*camera*/) {}
    virtual void OnStep(int /*camera*/, bool /*ok*/, const std::string& /*text*/) {}
    virtual void OnUpgradeProgress(int /*camera*/, int /*state*/, int /*percent*/) {}
    // `text`: the report that ended the camera; `result`: its final text.
    virtual void OnFinish(int /*camera*/, const std::string& /*text*/, const FinalResult& /*result*/) {}
};

class BatchRunner {
public:
    using Deal = std::shared_ptr<factory::dealmodule>;
    struct Reports {
        factory::dealmodule::ProgressCallback progress;
        factory::dealmodule::UpgradeProgressCallback upgrade_progress;
    };
    // Starts camera `camera` on `deal` (initialised, its worker running) and returns at once;
    // every path of the job must end with a final report through `reports`.
    using Start = std::function<void(const Deal& deal, int camera, const Reports& reports)>;

    explicit BatchRunner(ResultKind kind) : kind_(kind) {}

    // Returns when every camera has ended; `parallel` 0 runs all at once. The number of cameras
    // that succeeded.
    int Run(int count, int parallel, const Start& start, BatchObserver& observer);

private:
    ResultKind kind_;
};

}  // namespace cli
