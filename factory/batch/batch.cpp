#include "batch.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "batch_verify.h"
#include "discovery_record.h"
#include "ipv4.h"
#include "kp_platform.h"
#include "logging.h"
#include "sdkbase.h"

namespace batch {

const char kReasonCanary[] = "先行验证未通过";
const char kReasonFailureLimit[] = "失败数已达上限";
const char kReasonStopped[] = "已停止";
const char kReasonNotSupported[] = "设备不支持此操作";
const char kReasonInterrupted[] = "窗口关闭，已中断";
const char* const kReasonNoThread = factory::dealmodule::kNoThread;

namespace {

const char kNoAnswer[] = "设备无应答";
// Real time, whatever the time scale: it only gathers what the cameras report meanwhile.
constexpr std::chrono::microseconds kRest(1000);

std::string LocalStamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32] = {0};
    std::snprintf(stamp, sizeof(stamp), "%d%02d%02d%02d%02d%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return stamp;
}

factory::Worker::Options BatchThreadOptions() {
    factory::Worker::Options options;
    options.name = "batch";
    return options;
}

}  // namespace

const char* ReportName(Operation operation) {
    switch (operation) {
        case Operation::Upgrade:
            return "upgrade";
        case Operation::ImportConfig:
            return "import_config";
        case Operation::Password:
            return "password";
        case Operation::Network:
            return "network";
        case Operation::Restore:
            return "restore";
        case Operation::Time:
            return "time";
        case Operation::Reboot:
            return "reboot";
        case Operation::Upload:
            return "upload";
        case Operation::ExportConfig:
        default:
            return "export_config";
    }
}

ResultKind KindOf(Operation operation) {
    if (operation == Operation::Upgrade) return ResultKind::Upgrade;
    if (operation == Operation::ExportConfig) return ResultKind::Export;
    return ResultKind::Setting;
}

std::string AssignedAddress(const std::string& first_ip, int camera) {
    std::uint32_t first = 0, address = 0;
    if (camera < 0 || !factory::ParseIpv4(first_ip, &first) ||
        !factory::AddIpv4(first, static_cast<std::uint32_t>(camera), &address))
        return std::string();
    return factory::FormatIpv4(address);
}

std::string ExportFileName(const std::string& folder, const std::string& ip, const std::string& stamp) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    return path + ip + "_" + stamp + ".cfg";
}

std::shared_ptr<Batch> Batch::Create(Operation operation, Arguments arguments, std::vector<Target> targets,
                                     Policy policy, std::shared_ptr<Observer> observer,
                                     std::shared_ptr<report::BatchReport> report) {
    if (!observer) observer = std::make_shared<Observer>();
    return std::shared_ptr<Batch>(new Batch(operation, std::move(arguments), std::move(targets), policy,
                                            std::move(observer), std::move(report)));
}

Batch::Batch(Operation operation, Arguments arguments, std::vector<Target> targets, Policy policy,
             std::shared_ptr<Observer> observer, std::shared_ptr<report::BatchReport> report)
    : operation_(operation),
      arguments_(std::move(arguments)),
      targets_(std::move(targets)),
      policy_(policy),
      observer_(std::move(observer)),
      report_(std::move(report)),
      cameras_(targets_.size()),
      rows_(targets_.size(), -1),
      thread_(BatchThreadOptions()),
      done_future_(done_.get_future().share()) {
    for (size_t i = 0; i < targets_.size(); ++i) {
        cameras_[i].serial_high = targets_[i].serial_high;
        cameras_[i].serial_low = targets_[i].serial_low;
    }
}

Batch::~Batch() {
    // Idle by now (every job holds the batch); joined unless this is its own last job.
    thread_.Stop();
}

int Batch::succeeded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return succeeded_;
}

int Batch::failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

bool Batch::ended() const {
    return done_future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool Batch::Start() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (started_) return true;
    started_ = true;
    // Each running camera has a thread of its own.
    kp::prepareForThreads((policy_.parallel > 0 ? std::min(policy_.parallel, count()) : count()) + 16);
    if (!thread_.Start()) {
        KPES_LOG(kpes::LS_ERROR) << "batch thread not started: " << ReportName(operation_);
        for (; next_ < count(); ++next_) {
            Final final;
            final.status = FinalStatus(KindOf(operation_), false, kReasonNoThread);
            final.text = StatusText(final.status);
            final.reason = kReasonNoThread;
            StepLocked(next_, false, kReasonNoThread, false);
            FinishLocked(next_, std::move(final));
        }
        lock.unlock();
        // No thread to hand anything to: all of it, the end too, is told here.
        Deliver(true);
        return false;
    }
    thread_running_ = true;
    // Claimed before the first camera can report: the cameras started are told here, on the
    // caller's thread, before anything a camera says.
    delivering_ = true;
    PumpLocked();
    DeliverLocked(lock, false);
    return true;
}

void Batch::Stop(const char* reason) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    stop_reason_ = reason;
    if (!started_) return;
    PumpLocked();
    if (delivering_) return;  // the one telling now tells these too
    delivering_ = true;
    DeliverLocked(lock, false);
}

void Batch::Wait() { done_future_.wait(); }

bool Batch::WaitFor(std::chrono::milliseconds timeout) {
    return done_future_.wait_for(timeout) == std::future_status::ready;
}

void Batch::PostLocked(factory::Worker::Job job) { thread_.Post(std::move(job)); }

void Batch::RowLocked(int camera) {
    Camera& state = cameras_[camera];
    if (!report_ || state.row) return;
    state.row = true;
    Event event;
    event.kind = Event::Kind::Row;
    event.camera = camera;
    event.serial_high = state.serial_high;
    event.serial_low = state.serial_low;
    EmitLocked(std::move(event));
}

void Batch::StepLocked(int camera, bool ok, std::string text, bool observed) {
    if (!observed && !report_) return;
    if (report_) RowLocked(camera);
    Event event;
    event.kind = Event::Kind::Step;
    event.camera = camera;
    event.ok = ok;
    event.observed = observed;
    event.text = std::move(text);
    EmitLocked(std::move(event));
}

void Batch::EmitLocked(Event event) {
    events_.push_back(std::move(event));
    RequestDeliveryLocked();
}

bool Batch::EndedLocked() const { return ended_ == count() && launching_ == 0; }

bool Batch::WorkLeftLocked() const {
    return !events_.empty() || !joins_.empty() || (EndedLocked() && !end_told_);
}

void Batch::RequestDeliveryLocked() {
    // One wake-up of the batch's thread per burst: whoever tells now also takes what comes meanwhile.
    if (delivering_ || delivery_posted_ || !thread_running_) return;
    delivery_posted_ = true;
    PostLocked([self = shared_from_this()] { self->Deliver(true); });
}

void Batch::Deliver(bool all) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (all) delivery_posted_ = false;
    if (delivering_) return;  // the one telling now takes these too
    delivering_ = true;
    DeliverLocked(lock, all);
}

void Batch::DeliverLocked(std::unique_lock<std::mutex>& lock, bool all) {
    bool rested = !thread_running_;
    for (;;) {
        if (!events_.empty()) {
            // Two buffers in turn: a burst of reports is queued without growing one each time.
            std::vector<Event> events;
            events.swap(events_);
            events_.swap(spare_);
            lock.unlock();
            for (Event& event : events) Tell(event);
            events.clear();
            lock.lock();
            spare_.swap(events);
            rested = !thread_running_;
            if (all) continue;
            break;
        }
        if (!all) break;
        if (!rested) {
            // Cameras report in bursts (a thousand log in within milliseconds): a moment's rest
            // takes the rest of a burst in one pass instead of a wake-up of this thread for each,
            // and lets the workers of ended cameras exit before they are joined.
            rested = true;
            lock.unlock();
            std::this_thread::sleep_for(kRest);
            lock.lock();
            continue;
        }
        if (!joins_.empty()) {
            std::vector<std::shared_ptr<factory::dealmodule>> joins;
            joins.swap(joins_);
            lock.unlock();
            for (const auto& deal : joins) deal->StopWorker();
            joins.clear();
            lock.lock();
            continue;
        }
        if (EndedLocked() && !end_told_) {
            // The batch has ended when its last worker is gone; nothing is told after this.
            end_told_ = true;
            const int succeeded = succeeded_, failed = failed_;
            lock.unlock();
            observer_->OnEnd(succeeded, failed);
            done_.set_value();
            return;
        }
        break;
    }
    delivering_ = false;
    if (WorkLeftLocked()) RequestDeliveryLocked();
}

void Batch::Tell(Event& event) {
    const int camera = event.camera;
    int& row = rows_[camera];
    switch (event.kind) {
        case Event::Kind::Row: {
            if (row >= 0) break;
            const bool serial_known = event.serial_high != 0 || event.serial_low != 0;
            row = report_->AddCamera(targets_[camera].ip,
                                     serial_known
                                         ? factory::SerialNumberText(event.serial_high, event.serial_low)
                                         : std::string());
            if (operation_ == Operation::Network) {
                // Each camera moves to an address of its own: the batch's first address fits one row only.
                std::string text = "ip=" + AssignedAddress(arguments_.first_ip, camera);
                if (!arguments_.mask.empty()) text += " mask=" + arguments_.mask;
                if (!arguments_.gateway.empty()) text += " gateway=" + arguments_.gateway;
                report_->SetArguments(row, text);
            }
            break;
        }
        case Event::Kind::Start:
            observer_->OnStart(camera);
            break;
        case Event::Kind::Step:
            if (report_) report_->Step(row, event.ok, event.text);
            if (event.observed) observer_->OnStep(camera, event.ok, event.text);
            break;
        case Event::Kind::Upgrade:
            // The report keeps each change of status, not every percentage of the write.
            if (report_ && event.changed) {
                report_->Step(row, deviceStatusClass(event.status) != DeviceStatusClass::Failure,
                              StatusText(event.status) + " " + std::to_string(event.percent) + "%");
            }
            observer_->OnUpgradeProgress(camera, event.status, event.percent);
            break;
        case Event::Kind::Firmware:
            if (report_) report_->SetFirmware(row, event.text, event.after);
            break;
        case Event::Kind::Finish:
            if (report_) report_->Finish(row, event.final.text, event.final.verification);
            observer_->OnFinish(camera, event.final);
            break;
    }
}

void Batch::PumpLocked() {
    const int total = count();
    const int bound = policy_.parallel > 0 ? policy_.parallel : total;
    const int canary = std::min(std::max(policy_.canary, 0), total);
    std::vector<int> starting;
    while (next_ < total) {
        const char* refusal = stopped_         ? stop_reason_
                              : canary_failed_ ? kReasonCanary
                              : policy_.max_failures > 0 && started_failures_ >= policy_.max_failures
                                  ? kReasonFailureLimit
                                  : nullptr;
        if (refusal) {
            for (; next_ < total; ++next_) NotStartedLocked(next_, refusal);
            break;
        }
        if (running_ >= bound) break;
        // The others wait until every canary has ended well.
        if (next_ >= canary && canary_succeeded_ < canary) break;
        const int camera = next_++;
        cameras_[camera].state = State::Running;
        ++running_;
        ++launching_;
        if (!arguments_.identify_first) RowLocked(camera);
        Event event;
        event.kind = Event::Kind::Start;
        event.camera = camera;
        EmitLocked(std::move(event));
        starting.push_back(camera);
    }
    if (!starting.empty()) {
        PostLocked([self = shared_from_this(), starting = std::move(starting)] { self->Launch(starting); });
    }
}

void Batch::NotStartedLocked(int camera, const std::string& reason) {
    Final final;
    final.status = DEVICE_STATUS_NOT_STARTED;
    final.text = StatusText(final.status);
    final.reason = reason;
    StepLocked(camera, false, final.text + ": " + reason, false);
    FinishLocked(camera, std::move(final));
}

void Batch::FinishLocked(int camera, Final final) {
    Camera& state = cameras_[camera];
    if (state.state == State::Running) --running_;
    const bool started = state.state == State::Running;
    state.state = State::Ended;
    ++ended_;
    if (final.ok) {
        ++succeeded_;
        if (camera < policy_.canary) ++canary_succeeded_;
    } else {
        ++failed_;
        if (started) ++started_failures_;
        if (started && camera < policy_.canary) canary_failed_ = true;
    }
    if (state.deal) {
        // The worker ends by itself after this job, every camera's in parallel, so that the joins
        // on the batch's one thread find the threads gone instead of waking each in turn.
        state.deal->RetireWorker();
        // Joined on the batch's thread: the camera's worker is still inside the job reporting this.
        joins_.push_back(std::move(state.deal));
    }
    RowLocked(camera);
    Event event;
    event.kind = Event::Kind::Finish;
    event.camera = camera;
    event.final = std::move(final);
    EmitLocked(std::move(event));
}

factory::dealmodule::LoginData Batch::Login(int camera) const {
    const Target& target = targets_[camera];
    return factory::dealmodule::LoginData{target.ip, target.port, target.user, target.password};
}

// ---- Camera threads -----------------------------------------------------------------------------

void Batch::Launch(std::vector<int> cameras) {
    // Each started camera's worker starts half of the cameras still to start before its own job:
    // a thousand thread starts then take the time of about ten one after another, not a thousand.
    while (!cameras.empty()) {
        const int camera = cameras.front();
        const size_t half = cameras.size() / 2;
        std::vector<int> handed(cameras.end() - static_cast<std::ptrdiff_t>(half), cameras.end());
        cameras.erase(cameras.end() - static_cast<std::ptrdiff_t>(half), cameras.end());
        cameras.erase(cameras.begin());
        auto deal = std::make_shared<factory::dealmodule>();
        // Queued before the worker starts, which then finds them instead of waiting to be woken.
        std::vector<factory::Worker::Job> jobs;
        if (!handed.empty()) jobs.push_back([self = shared_from_this(), handed] { self->Launch(handed); });
        if (arguments_.identify_first) {
            jobs.push_back([self = shared_from_this(), camera, deal] { self->Identify(camera, deal); });
        } else {
            jobs.push_back([self = shared_from_this(), camera, deal] { self->RunRecipe(camera, deal); });
        }
        const bool started = deal->InitModules(1, std::move(jobs));
        if (!started) {
            End(camera, false, kReasonNoThread);
            cameras.insert(cameras.end(), handed.begin(), handed.end());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        // Handed over only once its start has returned: the job may run, and the camera end, before
        // that, and a join then would race the start. A camera ended meanwhile is retired here.
        Camera& state = cameras_[camera];
        if (started && state.state == State::Ended) {
            deal->RetireWorker();
            joins_.push_back(std::move(deal));
        } else if (started) {
            state.deal = std::move(deal);
        }
        --launching_;
        if (WorkLeftLocked()) RequestDeliveryLocked();
    }
}

void Batch::Identify(int camera, const std::shared_ptr<factory::dealmodule>& deal) {
    KPLPRC_HWINFO_EX info{};
    bool silent = false;
    const Target& target = targets_[camera];
    if (!factory::SDK_IdentifyDevice(target.ip, target.port, &info, &silent)) {
        std::memset(&info, 0, sizeof(info));
        if (silent) {
            End(camera, false, kNoAnswer);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Camera& state = cameras_[camera];
        if (info.serial[0] != '\0') {
            state.serial_high = info.serial_high;
            state.serial_low = info.serial_low;
            state.identified = true;
        }
        RowLocked(camera);
    }
    RunRecipe(camera, deal);
}

factory::dealmodule::ProgressCallback Batch::Progress(int camera) {
    return [self = shared_from_this(), camera](bool ok, const std::string& text) {
        if (EndsCamera(ok, text)) {
            // Reported on the thread of the failed call, so the library's reason is still there:
            // a camera without the operation says so rather than the step's generic failure.
            const bool unsupported = !ok && KpLPRClient_GetLastError() == KPLPRC_ERR_NOT_SUPPORTED;
            self->End(camera, ok, unsupported ? std::string(kReasonNotSupported) : text);
            return false;
        }
        std::lock_guard<std::mutex> lock(self->mutex_);
        const Camera& state = self->cameras_[camera];
        if (state.state != State::Running || state.ending) return false;
        self->StepLocked(camera, ok, text, true);
        return true;
    };
}

factory::dealmodule::UpgradeProgressCallback Batch::UpgradeProgress(int camera) {
    return [self = shared_from_this(), camera](int upgrade_state, int percent) {
        const DeviceStatus status = UpgradeStatus(upgrade_state);
        std::lock_guard<std::mutex> lock(self->mutex_);
        Camera& state = self->cameras_[camera];
        if (state.state != State::Running || state.ending) return;
        Event event;
        event.kind = Event::Kind::Upgrade;
        event.camera = camera;
        event.status = status;
        event.percent = percent;
        event.changed = state.last_upgrade_status != status;
        state.last_upgrade_status = status;
        self->EmitLocked(std::move(event));
    };
}

void Batch::End(int camera, bool ok, const std::string& text) {
    // One short hold of the lock when there is nothing to check: at the end of a large batch every
    // camera's thread comes here at once, and what is to be told is only handed over.
    Final final;
    final.status = FinalStatus(KindOf(operation_), ok, text);
    final.text = StatusText(final.status);
    final.ok = deviceStatusClass(final.status) == DeviceStatusClass::Success;
    if (!final.ok) final.reason = text;
    std::unique_lock<std::mutex> lock(mutex_);
    Camera& state = cameras_[camera];
    if (state.state != State::Running || state.ending) return;  // a job's words after its end
    state.ending = true;
    const std::string before = state.firmware_before;
    if (operation_ == Operation::Upgrade) final.firmware_before = before;
    // The check after a success, on the camera's thread and outside the lock: a change the camera
    // did not take is no success, whatever the job reported.
    std::string after;
    bool checked = false;
    if (final.ok && operation_ == Operation::Upgrade) {
        lock.unlock();
        const std::string& package = arguments_.package.empty() ? arguments_.file : arguments_.package;
        const factory::Verification check = factory::VerifyUpgrade(Login(camera), package, before, &after);
        final.ok = check.verified;
        final.verification = check.text;
        final.firmware_after = after;
        checked = true;
        lock.lock();
    } else if (final.ok && operation_ == Operation::Network) {
        lock.unlock();
        factory::dealmodule::LoginData moved = Login(camera);
        moved.ip = AssignedAddress(arguments_.first_ip, camera);
        const factory::Verification check = factory::VerifyAddress(moved);
        final.ok = check.verified;
        final.verification = check.text;
        lock.lock();
    }
    // A change the camera did not take ends as its kind's failure, so that the final word says
    // failed wherever it shows (row, line, report) and one search finds every failed camera.
    if (!final.ok && deviceStatusClass(final.status) == DeviceStatusClass::Success) {
        final.status = FinalStatus(KindOf(operation_), false, std::string());
        final.text = StatusText(final.status);
    }
    StepLocked(camera, ok, text, false);
    if (checked && report_) {
        Event event;
        event.kind = Event::Kind::Firmware;
        event.camera = camera;
        event.text = before;
        event.after = after;
        EmitLocked(std::move(event));
    }
    FinishLocked(camera, std::move(final));
    PumpLocked();
}

void Batch::RunRecipe(int camera, const std::shared_ptr<factory::dealmodule>& deal) {
    const factory::dealmodule::LoginData login = Login(camera);
    const factory::dealmodule::ProgressCallback progress = Progress(camera);
    const Arguments& a = arguments_;
    switch (operation_) {
        case Operation::Upgrade: {
            // The version the upgrade replaces, for the check after it and the report.
            std::string before, why;
            factory::ReadFirmwareVersion(login, &before, &why);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                cameras_[camera].firmware_before = before;
                if (report_) {
                    RowLocked(camera);
                    Event event;
                    event.kind = Event::Kind::Firmware;
                    event.camera = camera;
                    event.text = before;
                    EmitLocked(std::move(event));
                }
            }
            deal->UpgradeJob(login, a.file, progress, UpgradeProgress(camera));
            break;
        }
        case Operation::ImportConfig:
            deal->ImportParamJob(login, a.file, progress);
            break;
        case Operation::Password:
            deal->SetPasswordJob(login, a.new_password, progress);
            break;
        case Operation::Network: {
            // An incomplete first address would send cameras to addresses nobody typed, and past
            // 255.255.255.255 there is no next address to give.
            const std::string address = AssignedAddress(a.first_ip, camera);
            if (address.empty()) {
                progress(false, std::string());
                break;
            }
            uint32_t high = 0, low = 0;
            bool known = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                high = cameras_[camera].serial_high;
                low = cameras_[camera].serial_low;
                known = !a.identify_first || cameras_[camera].identified;
            }
            // The address change finds the camera by its serial words.
            if (!known) {
                progress(false, kNoAnswer);
                break;
            }
            deal->ModifyIpJob(high, low, address, a.gateway, a.mask, progress);
            break;
        }
        case Operation::Restore:
            deal->RestoreJob(login, a.restore_kind, progress);
            break;
        case Operation::Time:
            deal->SetTimeJob(login, progress);
            break;
        case Operation::Reboot:
            KPES_LOG(kpes::LS_WARNING) << "开始重启设备: " << login.ip << "index:" << camera;
            deal->RebootJob(login, progress);
            break;
        case Operation::Upload:
            deal->UploadJob(login, !a.logo.empty(), a.logo, !a.bg.empty(), a.bg, !a.css.empty(), a.css,
                            progress);
            break;
        case Operation::ExportConfig: {
            const std::string path = !a.export_file.empty() && count() == 1
                                         ? a.export_file
                                         : ExportFileName(a.out_folder, login.ip, LocalStamp());
            if (a.selection) {
                deal->ExportParamJob(login, a.selection.get(), path, progress);
                break;
            }
            // Every group and item as the camera offers them: the export panel's default.
            const KP_PARAM_IMPORT_ABILITY_V2* ability = nullptr;
            deal->ReadAbility(
                login.ip, login.port, login.user, login.password,
                [&](int, const KP_PARAM_IMPORT_ABILITY_V2& record) { ability = &record; }, progress);
            if (ability == nullptr) {
                progress(false, std::string());  // ignored when the read reported its failure
                break;
            }
            deal->ExportParamJob(login, ability, path, progress);
            break;
        }
    }
}

}  // namespace batch
