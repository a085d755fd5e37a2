#include "progress_printer.h"

#include "logging.h"

namespace cli {

namespace {

// A terminal redraws its status line at most this often: a batch of a thousand cameras reports
// thousands of steps.
constexpr std::chrono::milliseconds kRedrawPeriod(100);
constexpr int kBarWidth = 30;

}  // namespace

ProgressPrinter::ProgressPrinter(std::ostream& out, std::vector<std::string> ips, Mode mode)
    : out_(out),
      ips_(std::move(ips)),
      percent_(ips_.size(), -1),
      finals_(ips_.size()),
      mode_(mode),
      terminal_(mode == Mode::Terminal) {}

void ProgressPrinter::Line(const std::string& text) {
    if (mode_ == Mode::RecordsOnly) return;
    if (terminal_ && status_shown_) out_ << "\r\x1b[K";
    out_ << kpes::escape_controls(text) << '\n';
    status_shown_ = false;
}

void ProgressPrinter::DrawStatus(bool force) {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && status_shown_ && now - last_draw_ < kRedrawPeriod) return;
    last_draw_ = now;
    const int total = static_cast<int>(ips_.size());
    const int done = succeeded_ + failed_;
    const int filled = total > 0 ? done * kBarWidth / total : kBarWidth;
    std::string bar = "\r\x1b[K[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
                      std::to_string(done) + "/" + std::to_string(total) + " done, " +
                      std::to_string(failed_) + " failed, " + std::to_string(running_) + " running";
    long long sum = 0;
    int upgrading = 0;
    for (int percent : percent_) {
        if (percent < 0) continue;
        sum += percent;
        ++upgrading;
    }
    if (upgrading > 0) bar += ", upgrading " + std::to_string(sum / upgrading) + "%";
    out_ << bar << std::flush;
    status_shown_ = true;
}

void ProgressPrinter::OnStart(int) {
    ++running_;
    DrawStatus(false);
}

void ProgressPrinter::OnStep(int camera, bool, const std::string& text) {
    if (terminal_) return DrawStatus(false);
    Line(ips_[camera] + " " + text);
}

void ProgressPrinter::OnUpgradeProgress(int camera, DeviceStatus status, int percent) {
    const int shown = status == DEVICE_STATUS_UPDATING ? percent : -1;
    if (shown == percent_[camera]) return;
    percent_[camera] = shown;
    if (terminal_) return DrawStatus(false);
    if (shown >= 0) Line(ips_[camera] + " 正在升级 " + std::to_string(shown) + "%");
}

void ProgressPrinter::OnFinish(int camera, const batch::Final& final) {
    if (final.status != DEVICE_STATUS_NOT_STARTED) --running_;
    percent_[camera] = -1;
    finals_[camera] = final;
    (final.ok ? succeeded_ : failed_)++;
    std::string line = ips_[camera] + " " + final.text;
    if (!final.reason.empty()) line += " (" + final.reason + ")";
    if (!final.verification.empty()) line += ", " + final.verification;
    Line(line);
    DrawStatus(true);
}

void ProgressPrinter::Summary() {
    if (mode_ == Mode::RecordsOnly) return;
    if (terminal_ && status_shown_) out_ << "\r\x1b[K";
    status_shown_ = false;
    out_ << succeeded_ << " succeeded, " << failed_ << " failed\n" << std::flush;
}

}  // namespace cli
