// One batch operation on many cameras, as the window and the command line both run it.
//
//   auto run = batch::Batch::Create(batch::Operation::Reboot, arguments, targets, policy,
//                                   observer, report);
//   run->Start();   // returns at once; the cameras are started from a thread of the batch
//   ...
//   run->Stop();    // optional: no camera starts any more, running ones end as they would
//   run->Wait();    // optional: returns when every camera has ended and every worker is joined
//
// Each camera runs on a job composer of its own. The batch owns the operation's recipe, the
// status rules (batch_status.h), the check after a success, the report rows and the policy: at
// most `parallel` cameras at once, the first `canary` cameras alone first (they must all succeed,
// checks included, before the others start), and no new start once `max_failures` cameras have
// failed. A camera the batch did not start ends as "未开始" with the reason, and gets its row.
//
// The observer is called one call at a time, and for each camera in the order of its reports:
// OnStart, steps, then OnFinish, the camera's last call. OnEnd comes last of all. The calls come
// from the batch's own thread, never from a camera's: a camera hands its reports over and goes
// on. Start and Stop tell what they changed themselves before they return, unless the batch's
// thread is telling at that moment (then it tells those too, moments later). An observer must not
// call back into the batch.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "batch_report.h"
#include "batch_status.h"
#include "dealmodule.h"
#include "worker.h"

namespace batch {

enum class Operation {
    Upgrade,
    ImportConfig,
    Password,
    Network,
    Restore,
    Time,
    Reboot,
    Upload,
    ExportConfig
};

// The operation's name in reports: the file name and the "operation" column.
const char* ReportName(Operation operation);
ResultKind KindOf(Operation operation);

struct Target {
    std::string ip;
    int port = 80;
    std::string user;
    std::string password;
    // The serial words when the list knows them (0, 0: not known).
    uint32_t serial_high = 0;
    uint32_t serial_low = 0;
};

struct Arguments {
    std::string file;     // upgrade, import: the file as the device library takes it
    std::string package;  // upgrade: the same file named for this system, for its header; "" = file
    std::string new_password;
    std::string first_ip, mask, gateway;  // network: camera i gets first_ip + i
    unsigned restore_kind = 0;
    std::string logo, bg, css;  // upload: "" = not sent
    std::string out_folder;     // export: where the files go; "" = the working directory
    std::string export_file;    // export of one camera: its file; "" = <out_folder>/<ip>_<time>.cfg
    // Export: the groups and items to export; null exports all the camera offers.
    std::shared_ptr<const KP_PARAM_IMPORT_ABILITY_V2> selection;
    std::string report_arguments;  // the report's "arguments" column; never a password
    // Ask each camera who it is (without a login) first: a camera that does not answer fails at
    // once, and an address change uses the serial words it told.
    bool identify_first = false;
};

struct Policy {
    int parallel = 0;      // cameras at once; 0 = all
    int canary = 0;        // cameras that run alone first
    int max_failures = 0;  // failures after which no camera starts; 0 = no limit
};

// How a camera ended.
struct Final {
    DeviceStatus status = DEVICE_STATUS_IDLE;
    std::string text;          // the status's text
    bool ok = false;           // a success, and the check after it (if any) found the change made
    std::string reason;        // the report that ended it, or why it was not started
    std::string verification;  // "verified", "not verified: <why>", or "" (nothing to check)
    // Upgrade: the version the camera ran before and the one it runs after; else empty.
    std::string firmware_before, firmware_after;
};

// Why cameras were not started.
extern const char kReasonCanary[];
extern const char kReasonFailureLimit[];
extern const char kReasonStopped[];
// A camera that has no such operation (the library's KPLPRC_ERR_NOT_SUPPORTED).
extern const char kReasonNotSupported[];
// The window closed while the batch ran.
extern const char kReasonInterrupted[];
// A camera whose worker thread the system refused.
extern const char* const kReasonNoThread;

class Observer {
public:
    virtual ~Observer() = default;
    virtual void OnStart(int /*camera*/) {}
    virtual void OnStep(int /*camera*/, bool /*ok*/, const std::string& /*text*/) {}
    virtual void OnUpgradeProgress(int /*camera*/, DeviceStatus /*status*/, int /*percent*/) {}
    virtual void OnFinish(int /*camera*/, const Final& /*final*/) {}
    virtual void OnEnd(int /*succeeded*/, int /*failed*/) {}
};

// The address an address change gives camera `camera` (0-based, in target order): `first_ip` +
// `camera`. Empty when `first_ip` is not a whole address or the sum passes 255.255.255.255.
std::string AssignedAddress(const std::string& first_ip, int camera);

// The file a configuration export of `ip` writes at local time `stamp` (yyyymmddhhmmss digits).
std::string ExportFileName(const std::string& folder, const std::string& ip, const std::string& stamp);

class Batch : public std::enable_shared_from_this<Batch> {
public:
    // `report` may be null: the batch then runs without one.
    static std::shared_ptr<Batch> Create(Operation operation, Arguments arguments,
                                         std::vector<Target> targets, Policy policy,
                                         std::shared_ptr<Observer> observer,
                                         std::shared_ptr<report::BatchReport> report);
    ~Batch();

    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Any thread, once. When the system refuses the batch its thread, every camera ends failed
    // ("无法创建线程") before it returns false.
    bool Start();
    // Any thread: no camera starts from now on; those left end as "未开始" with `reason`. A
    // running upgrade is never cut off mid-write.
    void Stop(const char* reason = kReasonStopped);
    // Returns when the batch has ended (after OnEnd). Not on an observer call.
    void Wait();
    // Wait for at most `timeout`; true when the batch has ended.
    bool WaitFor(std::chrono::milliseconds timeout);

    int count() const { return static_cast<int>(targets_.size()); }
    // Cameras counted as they end, which may be moments before the observer hears of it.
    int succeeded() const;
    int failed() const;
    bool ended() const;

private:
    enum class State { Waiting, Running, Ended };
    struct Camera {
        State state = State::Waiting;
        std::shared_ptr<factory::dealmodule> deal;
        bool row = false;  // its report row has been asked for
        DeviceStatus last_upgrade_status = DEVICE_STATUS_IDLE;
        uint32_t serial_high = 0, serial_low = 0;
        bool identified = false;
        bool ending = false;  // its final report is being checked
        std::string firmware_before;
    };
    // What the observer and the report hear, queued in the order the batch's state changed.
    struct Event {
        enum class Kind { Row, Start, Step, Upgrade, Firmware, Finish };
        Kind kind = Kind::Step;
        int camera = 0;
        bool ok = false;
        bool observed = false;  // Step: the observer hears it too, not only the report
        bool changed = false;   // Upgrade: a new status, which the report keeps
        DeviceStatus status = DEVICE_STATUS_IDLE;
        int percent = 0;
        uint32_t serial_high = 0, serial_low = 0;  // Row
        std::string text, after;                   // Step: text; Firmware: before, after
        Final final;                               // Finish
    };

    Batch(Operation operation, Arguments arguments, std::vector<Target> targets, Policy policy,
          std::shared_ptr<Observer> observer, std::shared_ptr<report::BatchReport> report);

    // Lock held: starts what the policy allows, ends what it never will.
    void PumpLocked();
    void NotStartedLocked(int camera, const std::string& reason);
    void FinishLocked(int camera, Final final);
    // Asks for the camera's report row (once).
    void RowLocked(int camera);
    void StepLocked(int camera, bool ok, std::string text, bool observed);
    void EmitLocked(Event event);
    // Hands a job to the batch's own thread (starts, then what is to be told, joins and the end).
    void PostLocked(factory::Worker::Job job);
    // Every camera has ended and every started worker is in the batch's hands to be joined.
    bool EndedLocked() const;
    // What the batch's thread still has to do: tell, join, or end.
    bool WorkLeftLocked() const;
    void RequestDeliveryLocked();
    // Tells the observer and the report what is queued, one thread at a time. On the batch's
    // thread (`all`) until nothing is left, then joins ended cameras' workers and, once every
    // camera has ended, tells the end; else what is queued now, leaving the rest to that thread.
    void Deliver(bool all);
    void DeliverLocked(std::unique_lock<std::mutex>& lock, bool all);
    void Tell(Event& event);

    // Camera threads.
    // Starts the cameras' composers and their jobs.
    void Launch(std::vector<int> cameras);
    void Identify(int camera, const std::shared_ptr<factory::dealmodule>& deal);
    void RunRecipe(int camera, const std::shared_ptr<factory::dealmodule>& deal);
    factory::dealmodule::ProgressCallback Progress(int camera);
    factory::dealmodule::UpgradeProgressCallback UpgradeProgress(int camera);
    void End(int camera, bool ok, const std::string& text);
    factory::dealmodule::LoginData Login(int camera) const;

    const Operation operation_;
    const Arguments arguments_;
    const std::vector<Target> targets_;
    const Policy policy_;
    const std::shared_ptr<Observer> observer_;
    const std::shared_ptr<report::BatchReport> report_;

    mutable std::mutex mutex_;
    std::vector<Camera> cameras_;
    int next_ = 0;
    int running_ = 0;
    int ended_ = 0;
    int launching_ = 0;  // cameras started whose worker's start has not returned yet
    int succeeded_ = 0;
    int failed_ = 0;
    int started_failures_ = 0;
    int canary_succeeded_ = 0;
    bool canary_failed_ = false;
    bool stopped_ = false;
    const char* stop_reason_ = kReasonStopped;
    bool started_ = false;
    bool thread_running_ = false;
    std::vector<Event> events_;
    std::vector<Event> spare_;  // empty; its room takes the next burst
    bool delivering_ = false;
    bool delivery_posted_ = false;
    bool end_told_ = false;
    // Workers of ended cameras, to be joined on the batch's thread.
    std::vector<std::shared_ptr<factory::dealmodule>> joins_;
    // The deliverer's alone: each camera's report row (-1: none yet).
    std::vector<int> rows_;
    // Unbounded: a camera's worker handing over its reports must never wait.
    factory::Worker thread_;
    std::promise<void> done_;
    std::shared_future<void> done_future_;
};

}  // namespace batch
