// The job composer of one device: owns the device's wrapper, its three operation modules and a
// worker thread that runs posted jobs one after another.
//
//   auto deal = std::make_shared<factory::dealmodule>();     // always shared: jobs hold it
//   if (deal->InitModules(1)) {
//       deal->Reboot(ip, port, user, password, progress);   // returns at once
//   }
//   ... when the job's final report ("完成" or a failure) has been handled:
//   deal->StopWorker();                                      // joins the worker
//
// Every job reports each step through its ProgressCallback on the worker thread; the receiver
// marshals to its own thread. Each job holds the composer, so a posted job always runs even when
// its poster lets go of the composer at once, and a release never waits for a job: the last
// reference may go on the worker thread, with the closure of the last job. A job posted while no
// worker runs (its start refused, or stopped) is not queued: the operation reports the failure
// kNoThread, so that the camera ends instead of waiting for a thread that does not exist.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "worker.h"

namespace factory {

class sdkbase;
class devicebasemodule;
class parambasemodule;
class videobasemodule;

class dealmodule : public std::enable_shared_from_this<dealmodule> {
public:
    // A step report: success flag and the row text. The returned value is ignored by the jobs.
    using ProgressCallback = std::function<bool(bool ok, const std::string& text)>;
    // Upgrade progress: state and percent, as UpdateDevice reports them.
    using UpgradeProgressCallback = std::function<void(int state, int percent)>;
    // The camera's parameter-group description, read by ReadAbility.
    using AbilityCallback = std::function<void(int ok, const KP_PARAM_IMPORT_ABILITY_V2& ability)>;
    using Job = Worker::Job;

    // Slots of the job ring; one always stays free, so at most 63 jobs wait.
    static constexpr int kJobSlots = 64;
    // The failure an operation reports when no worker runs to take its job.
    static constexpr const char* kNoThread = "无法创建线程";

    // Make it with std::make_shared: the job operations post closures holding the composer.
    dealmodule();
    // Tells a worker the owner left running to end, without waiting for it; jobs not yet taken
    // (only ones that do not hold the composer can be left) are destroyed unrun. A session that a
    // refused logout left open is closed here, so that the camera does not keep it.
    ~dealmodule();

    dealmodule(const dealmodule&) = delete;
    dealmodule& operator=(const dealmodule&) = delete;

    // Creates the wrapper (kind 0 plate, any other face) and the modules when the kind changed
    // or no wrapper exists, then starts the worker. With a worker running, returns true at once;
    // false when the modules cannot be made or the system refuses the worker thread (logged).
    bool InitModules(int kind);
    // As InitModules(kind), with `first` run first: a new worker finds them waiting as it starts.
    // On false they are destroyed unrun.
    bool InitModules(int kind, std::vector<Job> first);
    // Queues a job for the worker; while the ring is full, waits for the worker to take one
    // (jobs are never dropped while it runs). False, with the job destroyed unrun, while no worker
    // runs. A job that uses the composer must hold it: deal->PostJob([deal] { deal->...; }).
    bool PostJob(Job job);
    // Ends the worker after its current job and joins it; pending jobs stay queued for the next
    // InitModules (posts in between fail). Called from a job, it returns at once and the worker ends after
    // that job; a worker started meanwhile takes its first job only then.
    void StopWorker();
    // Any thread, a job's included: the worker ends after its current job, on its own; StopWorker
    // still joins it, then at once.
    void RetireWorker();
    // Destroys the jobs not yet run.
    void ClearJobs();
    // While paused the worker takes no job.
    void SetPaused(bool paused);

    // Job operations: each checks the modules it needs, then posts its job and returns; with no
    // worker running, reports (false, kNoThread) through `progress` instead.
    void SetPassword(std::string ip, int port, std::string user, std::string password,
                     std::string new_password, ProgressCallback progress);
    void ImportParam(std::string ip, int port, std::string user, std::string password, std::string path,
                     ProgressCallback progress);
    // `ability` is read when the job runs, so it must outlive the job.
    void ExportParam(std::string ip, int port, std::string user, std::string password,
                     const KP_PARAM_IMPORT_ABILITY_V2* ability, std::string path, ProgressCallback progress);
    void Reboot(std::string ip, int port, std::string user, std::string password, ProgressCallback progress);
    void SetTime(std::string ip, int port, std::string user, std::string password, ProgressCallback progress);
    void Restore(std::string ip, int port, std::string user, std::string password, unsigned int kind,
                 ProgressCallback progress);
    void Upgrade(std::string ip, int port, std::string user, std::string password, std::string path,
                 ProgressCallback progress, UpgradeProgressCallback upgrade_progress);
    void Upload(std::string ip, int port, std::string user, std::string password, bool logo,
                std::string logo_path, bool bg, std::string bg_path, bool css, std::string css_path,
                ProgressCallback progress);
    void StartVideo(std::string ip, int port, std::string user, std::string password, HWND window,
                    ProgressCallback progress);
    void StopVideo(std::string ip, int port, std::string user, std::string password,
                   ProgressCallback progress);
    // The address change by serial words; needs no login.
    void ModifyIp(unsigned int serial_high, unsigned int serial_low, std::string ip, std::string gateway,
                  std::string mask, ProgressCallback progress);

    // Synchronous on the calling thread: logs in, reads the parameter-group description and
    // hands it to `ability_callback`, then logs out. Failures go to `progress`.
    void ReadAbility(std::string ip, int port, std::string user, std::string password,
                     AbilityCallback ability_callback, ProgressCallback progress);

    // The job bodies, run on the worker. Public so that a caller can post one itself, holding
    // the composer:
    //   deal->PostJob([deal, ...] { deal->ModifyIpJob(...); });
    struct LoginData {
        std::string ip;
        int port = 0;
        std::string user;
        std::string password;
    };
    void SetPasswordJob(const LoginData& login, const std::string& new_password,
                        const ProgressCallback& progress);
    void ImportParamJob(const LoginData& login, const std::string& path, const ProgressCallback& progress);
    void ExportParamJob(const LoginData& login, const KP_PARAM_IMPORT_ABILITY_V2* ability,
                        const std::string& path, const ProgressCallback& progress);
    void RebootJob(const LoginData& login, const ProgressCallback& progress);
    void SetTimeJob(const LoginData& login, const ProgressCallback& progress);
    void RestoreJob(const LoginData& login, unsigned int kind, const ProgressCallback& progress);
    void UpgradeJob(const LoginData& login, const std::string& path, const ProgressCallback& progress,
                    const UpgradeProgressCallback& upgrade_progress);
    void UploadJob(const LoginData& login, bool logo, const std::string& logo_path, bool bg,
                   const std::string& bg_path, bool css, const std::string& css_path,
                   const ProgressCallback& progress);
    void ModifyIpJob(unsigned int serial_high, unsigned int serial_low, const std::string& ip,
                     const std::string& gateway, const std::string& mask, const ProgressCallback& progress);
    void PlayJob(const LoginData& login, HWND window, const ProgressCallback& progress);
    void StopPlayJob(const ProgressCallback& progress);

    // For inspection by the owner and tests.
    std::shared_ptr<sdkbase> sdk() const { return kp_sdk_; }
    bool worker_running() const { return worker_.Running(); }
    // Whether the ability record has been allocated (it is only when ReadAbility needs it).
    bool has_ability_record() const { return ability_ != nullptr; }

private:
    // The reference a job holds; empty (and logged) when the composer was not made shared.
    std::shared_ptr<dealmodule> Holder();

    // Login, the operation, logout, with the reports every standard job makes.
    void StandardJob(const LoginData& login, const char* first_text, const ProgressCallback& progress,
                     const std::function<bool(std::string& message)>& operation);

    // Posts, or reports the missing worker as the job's failure.
    void PostOrFail(const ProgressCallback& progress, Job job);

    bool CheckDevice() const;
    bool CheckDeviceAndParam() const;
    bool CheckDeviceAndVideo() const;

    Worker worker_;
    int kind_ = 0;
    std::shared_ptr<sdkbase> kp_sdk_;
    std::shared_ptr<videobasemodule> video_module_;
    std::shared_ptr<parambasemodule> param_module_;
    std::shared_ptr<devicebasemodule> device_module_;
    // 827,716 bytes: allocated on the first ReadAbility only, since most composers never read it.
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> ability_;
};

}  // namespace factory
