// The WS-Discovery search of the ONVIF backend: a thread that sends the Probe for network
// video transmitters to the multicast group a few times while a search runs (devices answer a
// probe all at once, so a burst lost to a full receive queue is asked for again) and passes on
// every ProbeMatch and Hello. De-duplication is the caller's.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "discovery_message.h"

namespace rudavado {
namespace onvif {

// The Probe sent to one address (a directed probe, answered without login). It goes out when
// made, so the caller's other requests to the device run while the answer comes; wait() returns
// the device there: false when no ProbeMatch for that address came within `wait_ms` of sending.
class DirectedProbe {
public:
    DirectedProbe(std::string ip, int wait_ms);
    ~DirectedProbe();
    DirectedProbe(const DirectedProbe&) = delete;
    DirectedProbe& operator=(const DirectedProbe&) = delete;
    bool wait(Announcement& found);

private:
    bool send();

    std::string ip_;
    int wait_ms_;
    int fd_ = -1;
    int sent_ = 0;
    std::string probe_;
    std::chrono::steady_clock::time_point begin_;
};

class Discovery {
public:
    using Sink = std::function<void(const Announcement&)>;

    // Probes are sent at these offsets (ms) from the start of each search.
    static constexpr int kProbeOffsetsMs[] = {0, 600, 1500};

    ~Discovery();
    // Starts (or restarts) a search; false when no socket could be opened.
    bool start(Sink sink);
    // Ends the search; the sink is not called after it returns (unless called from the sink).
    void stop();

private:
    void run(int probe_fd, int hello_fd);

    std::mutex mu_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    Sink sink_;
};

}  // namespace onvif
}  // namespace rudavado
