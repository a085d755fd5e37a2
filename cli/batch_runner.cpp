#include "batch_runner.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

namespace {

const char kDone[] = "完成";

struct Event {
    enum Type { Step, Upgrade, Identify, Firmware, Verification } type;
    int camera;
    bool ok;
    std::string text;
    int state;
    int percent;
    std::string more;
};

// Reports cross from the workers to the thread in Run.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Event> events;

    void Push(Event event) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(event));
        }
        arrived.notify_one();
    }
    std::deque<Event> TakeAll() {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait(lock, [this] { return !events.empty(); });
        std::deque<Event> taken;
        taken.swap(events);
        return taken;
    }
};

// Joins the workers of ended cameras on threads of its own, several at once: a thousand cameras
// end within moments of each other, and joining them one by one on the thread that shows the
// reports would hold up the last cameras' reports by the time of a thousand thread exits.
class Reaper {
public:
    static constexpr int kThreads = 8;

    Reaper() {
        for (int i = 0; i < kThreads; ++i) threads_.emplace_back([this] { Loop(); });
    }
    ~Reaper() { Finish(); }

    void Add(std::shared_ptr<factory::dealmodule> deal) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            deals_.push_back(std::move(deal));
        }
        wake_.notify_one();
    }
    // Returns when every worker added has been joined.
    void Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_)
            if (thread.joinable()) thread.join();
        // Without threads (the system refused them) the joins happen here.
        for (auto& deal : deals_) deal->StopWorker();
        deals_.clear();
    }

private:
    void Loop() {
        for (;;) {
            std::shared_ptr<factory::dealmodule> deal;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !deals_.empty(); });
                if (deals_.empty()) return;
                deal = std::move(deals_.front());
                deals_.pop_front();
            }
            // Returns once the job (a logout after a failure) has returned.
            deal->StopWorker();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<factory::dealmodule>> deals_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace

FinalResult FinalStatus(ResultKind kind, bool ok, const std::string& text) {
    FinalResult result;
    switch (kind) {
        case ResultKind::Export:
            result.ok = ok;
            result.status = ok ? "导出成功" : "导出失败";
            break;
        case ResultKind::Upgrade:
            result.ok = text == kDone;
            result.status = result.ok ? "升级成功" : "升级失败";
            break;
        case ResultKind::Setting:
        default:
            result.ok = ok;
            result.status = ok ? "设置成功" : "设置失败";
            break;
    }
    return result;
}

int BatchRunner::Run(int count, int parallel, const Start& start, BatchObserver& observer) {
    if (count <= 0) return 0;
    const int bound = parallel > 0 && parallel < count ? parallel : count;
    auto mailbox = std::make_shared<Mailbox>();
    std::vector<Deal> deals(static_cast<size_t>(count));
    std::vector<bool> ended(static_cast<size_t>(count), false);
    // The check of each camera: (made, verified, text).
    struct Check {
        bool made = false;
        bool verified = false;
        std::string text;
    };
    std::vector<Check> checks(static_cast<size_t>(count));
    Reaper reaper;
    int next = 0, running = 0, finished = 0, succeeded = 0;

    auto finish = [&](int camera, bool ok, const std::string& text) {
        ended[camera] = true;
        --running;
        ++finished;
        FinalResult result = FinalStatus(kind_, ok, text);
        const Check& check = checks[camera];
        if (result.ok && check.made) {
            result.verification = check.text;
            // A change the camera did not take is no success, whatever the job reported.
            result.ok = check.verified;
        }
        if (result.ok) ++succeeded;
        observer.OnFinish(camera, ok, text, result);
        if (deals[camera]) reaper.Add(std::move(deals[camera]));
    };
    auto launch = [&](int camera) {
        ++running;
        observer.OnStart(camera);
        Deal deal = std::make_shared<factory::dealmodule>();
        if (!deal->InitModules(1)) {
            // No worker: the camera fails without being touched, like a row the window could not start.
            finish(camera, false, "无法创建线程");
            return;
        }
        deals[camera] = deal;
        Reports reports;
        reports.progress = [mailbox, camera](bool ok, const std::string& text) {
            mailbox->Push(Event{Event::Step, camera, ok, text, 0, 0, std::string()});
            return true;
        };
        reports.upgrade_progress = [mailbox, camera](int state, int percent) {
            mailbox->Push(Event{Event::Upgrade, camera, true, std::string(), state, percent, std::string()});
        };
        reports.identify = [mailbox, camera](const std::string& serial) {
            mailbox->Push(Event{Event::Identify, camera, true, serial, 0, 0, std::string()});
        };
        reports.firmware = [mailbox, camera](const std::string& before, const std::string& after) {
            mailbox->Push(Event{Event::Firmware, camera, true, before, 0, 0, after});
        };
        reports.verification = [mailbox, camera](bool verified, const std::string& text) {
            mailbox->Push(Event{Event::Verification, camera, verified, text, 0, 0, std::string()});
        };
        start(deal, camera, reports);
    };

    while (finished < count) {
        while (next < count && running < bound) launch(next++);
        if (finished >= count) break;
        for (const Event& event : mailbox->TakeAll()) {
            if (ended[event.camera]) continue;  // after its final report a camera shows nothing more
            if (event.type == Event::Upgrade) {
                observer.OnUpgradeProgress(event.camera, event.state, event.percent);
            } else if (event.type == Event::Identify) {
                observer.OnIdentify(event.camera, event.text);
            } else if (event.type == Event::Firmware) {
                observer.OnFirmware(event.camera, event.text, event.more);
            } else if (event.type == Event::Verification) {
                checks[event.camera] = Check{true, event.ok, event.text};
            } else if (event.ok && event.text != kDone) {
                observer.OnStep(event.camera, event.ok, event.text);
            } else {
                finish(event.camera, event.ok, event.text);
            }
        }
    }
    reaper.Finish();
    return succeeded;
}

}  // namespace cli
