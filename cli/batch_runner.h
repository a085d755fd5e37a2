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

// The final text of a camera and whether it counts as a success: the operation succeeded and,
// where a check follows it, the check found the change made.
struct FinalResult {
    bool ok = false;
    std::string status;
    std::string verification;  // "verified", "not verified: <why>", or empty: nothing to check
};
FinalResult FinalStatus(ResultKind kind, bool ok, const std::string& text);

class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    virtual void OnStart(int /*camera*/) {}
    virtual void OnStep(int /*camera*/, bool /*ok*/, const std::string& /*text*/) {}
    virtual void OnUpgradeProgress(int /*camera*/, int /*state*/, int /*percent*/) {}
    // What the camera told about itself before the operation ("" when it did not answer).
    virtual void OnIdentify(int /*camera*/, const std::string& /*serial*/) {}
    virtual void OnFirmware(int /*camera*/, const std::string& /*before*/, const std::string& /*after*/) {}
    // `ok`, `text`: the report that ended the camera; `result`: its final text.
    virtual void OnFinish(int /*camera*/, bool /*ok*/, const std::string& /*text*/,
                          const FinalResult& /*result*/) {}
};

// Hands every report to two observers, the first one first.
class ObserverPair : public BatchObserver {
public:
    ObserverPair(BatchObserver& first, BatchObserver& second) : first_(first), second_(second) {}
    void OnStart(int camera) override {
        first_.OnStart(camera);
        second_.OnStart(camera);
    }
    void OnStep(int camera, bool ok, const std::string& text) override {
        first_.OnStep(camera, ok, text);
        second_.OnStep(camera, ok, text);
    }
    void OnUpgradeProgress(int camera, int state, int percent) override {
        first_.OnUpgradeProgress(camera, state, percent);
        second_.OnUpgradeProgress(camera, state, percent);
    }
    void OnIdentify(int camera, const std::string& serial) override {
        first_.OnIdentify(camera, serial);
        second_.OnIdentify(camera, serial);
    }
    void OnFirmware(int camera, const std::string& before, const std::string& after) override {
        first_.OnFirmware(camera, before, after);
        second_.OnFirmware(camera, before, after);
    }
    void OnFinish(int camera, bool ok, const std::string& text, const FinalResult& result) override {
        first_.OnFinish(camera, ok, text, result);
        second_.OnFinish(camera, ok, text, result);
    }

private:
    BatchObserver& first_;
    BatchObserver& second_;
};

class BatchRunner {
public:
    using Deal = std::shared_ptr<factory::dealmodule>;
    // Any thread. Each camera's reports reach the observer in the order they were made.
    struct Reports {
        factory::dealmodule::ProgressCallback progress;
        factory::dealmodule::UpgradeProgressCallback upgrade_progress;
        std::function<void(const std::string& serial)> identify;
        std::function<void(const std::string& before, const std::string& after)> firmware;
        // The check after a success; made before the final report.
        std::function<void(bool verified, const std::string& text)> verification;
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
