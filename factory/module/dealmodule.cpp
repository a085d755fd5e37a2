#include "dealmodule.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "assert_return.h"
#include "devicebasemodule.h"
#include "logging.h"
#include "parambasemodule.h"
#include "sdkface.h"
#include "sdkplate.h"
#include "videobasemodule.h"

namespace factory {

namespace {

const char kDone[] = "完成";
const char kTimeCheck[] = "开始时间检查";
const char kExportFailed[] = "参数导出失败";

// Jobs report unconditionally; a missing receiver must not throw on the worker thread.
dealmodule::ProgressCallback OrNoop(dealmodule::ProgressCallback progress) {
    if (!progress) {
        return [](bool, const std::string&) { return true; };
    }
    return progress;
}

dealmodule::UpgradeProgressCallback OrNoop(dealmodule::UpgradeProgressCallback progress) {
    if (!progress) {
        return [](int, int) {};
    }
    return progress;
}

factory::Worker::Options WorkerOptions() {
    factory::Worker::Options options;
    options.name = "job composer";
    options.capacity = dealmodule::kJobSlots - 1;
    return options;
}

}  // namespace

dealmodule::dealmodule() : worker_(WorkerOptions()) {}

dealmodule::~dealmodule() {
    // Each leaked session counts against the camera's few, and enough of them lock us out.
    if (kp_sdk_ != nullptr && kp_sdk_->SDK_GetHandle() != NULL) {
        kp_sdk_->SDK_Close();
    }
    device_module_.reset();
    param_module_.reset();
    video_module_.reset();
    kp_sdk_.reset();
    ClearJobs();
}

bool dealmodule::InitModules(int kind) { return InitModules(kind, std::vector<Job>()); }

bool dealmodule::InitModules(int kind, std::vector<Job> first) {
    if (worker_.Running()) {
        for (Job& job : first) {
            PostJob(std::move(job));
        }
        return true;
    }
    if (kind != kind_ || kp_sdk_ == nullptr) {
        if (kind == KPLPRC_DEVICE_PLATE) {
            kp_sdk_.reset(new (std::nothrow) sdkplate);
        } else {
            kp_sdk_.reset(new (std::nothrow) sdkface);
        }
        if (kp_sdk_ == nullptr) {
            KPES_LOG(kpes::LS_ERROR) << "kp_sdk_ is NULL ";
            return false;
        }
        device_module_.reset(new (std::nothrow) devicebasemodule);
        if (device_module_ == nullptr || !device_module_->Init(kp_sdk_)) {
            return false;
        }
        video_module_.reset(new (std::nothrow) videobasemodule);
        if (video_module_ == nullptr || !video_module_->Init(kp_sdk_)) {
            return false;
        }
        param_module_.reset(new (std::nothrow) parambasemodule);
        if (param_module_ == nullptr || !param_module_->Init(kp_sdk_)) {
            return false;
        }
        kind_ = kind;
    }
    if (!worker_.Start(std::move(first))) {
        // Large batches can hit the process's thread limit; the caller stops its loop there.
        KPES_LOG(kpes::LS_ERROR) << "worker thread not started";
        return false;
    }
    return true;
}

bool dealmodule::PostJob(Job job) { return worker_.Post(std::move(job)); }

void dealmodule::PostOrFail(const ProgressCallback& progress, Job job) {
    if (!worker_.Post(std::move(job))) {
        // No worker (refused, or never started): the camera fails at once instead of waiting.
        KPES_LOG(kpes::LS_ERROR) << "no worker thread, job not run";
        progress(false, kNoThread);
    }
}

void dealmodule::StopWorker() { worker_.Stop(); }

void dealmodule::RetireWorker() { worker_.Retire(); }

void dealmodule::ClearJobs() { worker_.Clear(); }

void dealmodule::SetPaused(bool paused) { worker_.SetPaused(paused); }

std::shared_ptr<dealmodule> dealmodule::Holder() {
    std::shared_ptr<dealmodule> self = weak_from_this().lock();
    if (self == nullptr) {
        // A job holding only `this` could outlive the composer, so nothing is posted.
        KPES_LOG(kpes::LS_ERROR) << "dealmodule not made shared, job not posted";
    }
    return self;
}

bool dealmodule::CheckDevice() const {
    FACTORY_ASSERT_RETURN(device_module_ == nullptr, false,
                          "ASSERT (device_module_ == NULL) is true, then returned");
    return true;
}

bool dealmodule::CheckDeviceAndParam() const {
    if (!CheckDevice()) {
        return false;
    }
    FACTORY_ASSERT_RETURN(param_module_ == nullptr, false,
                          "ASSERT (param_module_ == NULL) is true, then returned");
    return true;
}

bool dealmodule::CheckDeviceAndVideo() const {
    if (!CheckDevice()) {
        return false;
    }
    FACTORY_ASSERT_RETURN(video_module_ == nullptr, false,
                          "ASSERT (video_module_ == NULL) is true, then returned");
    return true;
}

// ---- Job operations -----------------------------------------------------------------------------

void dealmodule::SetPassword(std::string ip, int port, std::string user, std::string password,
                             std::string new_password, ProgressCallback progress) {
    auto self = CheckDevice() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), new_password = std::move(new_password), progress] {
        self->SetPasswordJob(login, new_password, progress);
    });
}

void dealmodule::ImportParam(std::string ip, int port, std::string user, std::string password,
                             std::string path, ProgressCallback progress) {
    auto self = CheckDeviceAndParam() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), path = std::move(path), progress] {
        self->ImportParamJob(login, path, progress);
    });
}

void dealmodule::ExportParam(std::string ip, int port, std::string user, std::string password,
                             const KP_PARAM_IMPORT_ABILITY_V2* ability, std::string path,
                             ProgressCallback progress) {
    auto self = CheckDeviceAndParam() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), ability, path = std::move(path), progress] {
        self->ExportParamJob(login, ability, path, progress);
    });
}

void dealmodule::Reboot(std::string ip, int port, std::string user, std::string password,
                        ProgressCallback progress) {
    auto self = CheckDevice() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), progress] { self->RebootJob(login, progress); });
}

void dealmodule::SetTime(std::string ip, int port, std::string user, std::string password,
                         ProgressCallback progress) {
    auto self = CheckDevice() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), progress] { self->SetTimeJob(login, progress); });
}

void dealmodule::Restore(std::string ip, int port, std::string user, std::string password, unsigned int kind,
                         ProgressCallback progress) {
    auto self = CheckDevice() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress,
               [self, login = std::move(login), kind, progress] { self->RestoreJob(login, kind, progress); });
}

void dealmodule::Upgrade(std::string ip, int port, std::string user, std::string password, std::string path,
                         ProgressCallback progress, UpgradeProgressCallback upgrade_progress) {
    auto self = CheckDevice() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    upgrade_progress = OrNoop(std::move(upgrade_progress));
    PostOrFail(progress, [self, login = std::move(login), path = std::move(path), progress,
                          upgrade_progress] { self->UpgradeJob(login, path, progress, upgrade_progress); });
}

void dealmodule::Upload(std::string ip, int port, std::string user, std::string password, bool logo,
                        std::string logo_path, bool bg, std::string bg_path, bool css, std::string css_path,
                        ProgressCallback progress) {
    auto self = CheckDeviceAndParam() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), logo, logo_path = std::move(logo_path), bg,
                          bg_path = std::move(bg_path), css, css_path = std::move(css_path), progress] {
        self->UploadJob(login, logo, logo_path, bg, bg_path, css, css_path, progress);
    });
}

void dealmodule::StartVideo(std::string ip, int port, std::string user, std::string password, HWND window,
                            ProgressCallback progress) {
    auto self = CheckDeviceAndVideo() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    LoginData login{std::move(ip), port, std::move(user), std::move(password)};
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, login = std::move(login), window, progress] {
        self->PlayJob(login, window, progress);
    });
}

void dealmodule::StopVideo(std::string, int, std::string, std::string, ProgressCallback progress) {
    auto self = CheckDeviceAndVideo() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, progress] { self->StopPlayJob(progress); });
}

void dealmodule::ModifyIp(unsigned int serial_high, unsigned int serial_low, std::string ip,
                          std::string gateway, std::string mask, ProgressCallback progress) {
    auto self = CheckDevice() ? Holder() : nullptr;
    if (self == nullptr) {
        return;
    }
    progress = OrNoop(std::move(progress));
    PostOrFail(progress, [self, serial_high, serial_low, ip = std::move(ip), gateway = std::move(gateway),
                          mask = std::move(mask), progress] {
        self->ModifyIpJob(serial_high, serial_low, ip, gateway, mask, progress);
    });
}

void dealmodule::ReadAbility(std::string ip, int port, std::string user, std::string password,
                             AbilityCallback ability_callback, ProgressCallback progress) {
    if (!CheckDeviceAndParam()) {
        return;
    }
    progress = OrNoop(std::move(progress));
    std::string message;
    if (!device_module_->Login(ip, port, user, password, message)) {
        progress(false, message);
        return;
    }
    if (ability_ == nullptr) {
        ability_.reset(new (std::nothrow) KP_PARAM_IMPORT_ABILITY_V2);
    }
    bool got = false;
    if (ability_ != nullptr) {
        std::memset(ability_.get(), 0, sizeof(KP_PARAM_IMPORT_ABILITY_V2));
        got = param_module_->GetParamImportAbility(ability_.get());
    }
    if (got && ability_callback) {
        ability_callback(1, *ability_);
        device_module_->Logout(message);
        return;
    }
    // A refused read is a failure whatever the logout did; reported as a success it would be
    // dropped as an intermediate step and the caller would wait for an answer forever. Reported
    // before the logout, whose success would clear the library's reason for the caller.
    progress(false, kExportFailed);
    device_module_->Logout(message);
}

// ---- Jobs ---------------------------------------------------------------------------------------

void dealmodule::StandardJob(const LoginData& login, const char* first_text, const ProgressCallback& progress,
                             const std::function<bool(std::string& message)>& operation) {
    std::string message;
    progress(true, first_text);
    bool ok = device_module_->Login(login.ip, login.port, login.user, login.password, message);
    progress(ok, message);
    if (!ok) {
        return;
    }
    ok = operation(message);
    progress(ok, message);
    if (ok) {
        bool done = device_module_->Logout(message);
        progress(done, kDone);
    } else {
        device_module_->Logout(message);
    }
}

void dealmodule::SetPasswordJob(const LoginData& login, const std::string& new_password,
                                const ProgressCallback& progress) {
    StandardJob(login, kTimeCheck, progress,
                [&](std::string& message) { return device_module_->SetPassword(new_password, message); });
}

void dealmodule::ImportParamJob(const LoginData& login, const std::string& path,
                                const ProgressCallback& progress) {
    StandardJob(login, kTimeCheck, progress,
                [&](std::string& message) { return param_module_->ParamImport(path, message); });
}

void dealmodule::ExportParamJob(const LoginData& login, const KP_PARAM_IMPORT_ABILITY_V2* ability,
                                const std::string& path, const ProgressCallback& progress) {
    StandardJob(login, kTimeCheck, progress, [&](std::string& message) {
        KPES_LOG(kpes::LS_INFO) << "Test_ParaExportV2 222";
        bool ok = param_module_->ParamExport(ability, path, message);
        KPES_LOG(kpes::LS_INFO) << "Test_ParaExportV2 333";
        return ok;
    });
}

void dealmodule::RebootJob(const LoginData& login, const ProgressCallback& progress) {
    // Reboot sets no text, so its report repeats the login's.
    StandardJob(login, "开始重启设备", progress, [&](std::string&) { return device_module_->Reboot(); });
}

void dealmodule::SetTimeJob(const LoginData& login, const ProgressCallback& progress) {
    StandardJob(login, kTimeCheck, progress,
                [&](std::string& message) { return device_module_->SetTime(message); });
}

void dealmodule::RestoreJob(const LoginData& login, unsigned int kind, const ProgressCallback& progress) {
    StandardJob(login, kTimeCheck, progress,
                [&](std::string& message) { return device_module_->Restore(kind, message); });
}

void dealmodule::UpgradeJob(const LoginData& login, const std::string& path, const ProgressCallback& progress,
                            const UpgradeProgressCallback& upgrade_progress) {
    StandardJob(login, kTimeCheck, progress, [&](std::string& message) {
        return device_module_->UpdateDevice(path, message, upgrade_progress);
    });
}

void dealmodule::UploadJob(const LoginData& login, bool logo, const std::string& logo_path, bool bg,
                           const std::string& bg_path, bool css, const std::string& css_path,
                           const ProgressCallback& progress) {
    std::string message;
    progress(true, "开始上传logo");
    bool ok = device_module_->Login(login.ip, login.port, login.user, login.password, message);
    progress(ok, message);
    if (!ok) {
        return;
    }
    struct Step {
        bool enabled;
        const char* name;
        bool (parambasemodule::*upload)(std::string, std::string&);
        const std::string& path;
    };
    const Step steps[] = {
        {logo, "logo \n", &parambasemodule::UploadLogo, logo_path},
        {bg, "bg \n", &parambasemodule::UploadBg, bg_path},
        {css, "css \n", &parambasemodule::UploadCss, css_path},
    };
    for (const Step& step : steps) {
        if (!step.enabled) {
            continue;
        }
        std::fputs(step.name, stdout);
        ok = ((*param_module_).*step.upload)(step.path, message);
        progress(ok, message);
        if (!ok) {
            device_module_->Logout(message);
            return;
        }
    }
    bool done = device_module_->Logout(message);
    progress(done, kDone);
}

void dealmodule::ModifyIpJob(unsigned int serial_high, unsigned int serial_low, const std::string& ip,
                             const std::string& gateway, const std::string& mask,
                             const ProgressCallback& progress) {
    std::string message;
    progress(true, kTimeCheck);
    bool ok = device_module_->ModifyIp(serial_high, serial_low, ip, gateway, mask, message);
    progress(ok, message);
    if (ok) {
        progress(true, kDone);
    }
}

void dealmodule::PlayJob(const LoginData& login, HWND window, const ProgressCallback& progress) {
    std::string message;
    device_module_->Login(login.ip, login.port, login.user, login.password, message);
    bool ok = video_module_->StartPlay(window, message);
    progress(ok, kDone);
}

void dealmodule::StopPlayJob(const ProgressCallback& progress) {
    std::string message;
    video_module_->StopPlay(message);
    bool done = device_module_->Logout(message);
    progress(done, kDone);
}

}  // namespace factory
