// The WS-Discovery search of the ONVIF backend: a thread that sends the Probe for network
// video transmitters to the multicast group a few times while a search runs (devices answer a
// probe all at once, so a burst lost to a full receive queue is asked for again) and passes on
// every ProbeMatch and Hello. De-duplication is the caller's.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "discovery_message.h"

namespace rudavado {
namespace onvif {

// Sends the Probe to one address (a directed probe, answered without login) and returns the
// device there: false when no ProbeMatch for that address came within `wait_ms`.
bool directedProbe(const std::string& ip, int wait_ms, Announcement& found);

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
