#include "report_recorder.h"

namespace cli {

ReportRecorder::ReportRecorder(std::shared_ptr<report::BatchReport> report, std::vector<std::string> ips)
    : report_(std::move(report)), ips_(std::move(ips)), rows_(ips_.size(), -1) {}

int ReportRecorder::Row(int camera, const std::string& serial) {
    if (rows_[camera] < 0) rows_[camera] = report_->AddCamera(ips_[camera], serial);
    return rows_[camera];
}

void ReportRecorder::OnIdentify(int camera, const std::string& serial) { Row(camera, serial); }

void ReportRecorder::OnStep(int camera, bool ok, const std::string& text) {
    report_->Step(Row(camera), ok, text);
}

void ReportRecorder::OnFirmware(int camera, const std::string& before, const std::string& after) {
    report_->SetFirmware(Row(camera), before, after);
}

void ReportRecorder::OnFinish(int camera, bool ok, const std::string& text, const FinalResult& result) {
    const int row = Row(camera);
    // The report that ended the camera is a step too: a failure's text says why.
    report_->Step(row, ok, text);
    report_->Finish(row, result.status, result.verification);
}

}  // namespace cli
