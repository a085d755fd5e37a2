// Writes a batch's reports into its batch report (one row per camera, saved as cameras end).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "batch_report.h"
#include "batch_runner.h"

namespace cli {

class ReportRecorder : public BatchObserver {
public:
    ReportRecorder(std::shared_ptr<report::BatchReport> report, std::vector<std::string> ips);

    void OnIdentify(int camera, const std::string& serial) override;
    void OnStep(int camera, bool ok, const std::string& text) override;
    void OnFirmware(int camera, const std::string& before, const std::string& after) override;
    void OnFinish(int camera, bool ok, const std::string& text, const FinalResult& result) override;

private:
    // The camera's row, added without a serial number when the camera told none.
    int Row(int camera, const std::string& serial = std::string());

    std::shared_ptr<report::BatchReport> report_;
    std::vector<std::string> ips_;
    std::vector<int> rows_;
};

}  // namespace cli
