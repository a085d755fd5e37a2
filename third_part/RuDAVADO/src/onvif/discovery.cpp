#include "discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace rudavado {
namespace onvif {
namespace {

constexpr int kReceiveBuffer = 8 << 20;

void bigReceiveBuffer(int fd) {
    int size = kReceiveBuffer;
    // The forced size passes the system's cap where we are allowed to; else take what we get.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
}

int probeSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    bigReceiveBuffer(fd);
    const unsigned char ttl = 1, loop = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Joins the group on the discovery port for the Hello of devices that start or come back; -1
// when the port cannot be shared (the search then relies on its probes).
int helloSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    bigReceiveBuffer(fd);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kDiscoveryPort);
    inet_pton(AF_INET, kDiscoveryGroup, &addr.sin_addr);
    ip_mreq group{};
    group.imr_multiaddr = addr.sin_addr;
    group.imr_interface.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

constexpr int Discovery::kProbeOffsetsMs[];

DirectedProbe::DirectedProbe(std::string ip, int wait_ms)
    : ip_(std::move(ip)), wait_ms_(wait_ms), fd_(probeSocket()), probe_(probeMessage(newMessageId())) {
    begin_ = std::chrono::steady_clock::now();
    if (fd_ >= 0 && !send()) {
        ::close(fd_);
        fd_ = -1;
    }
}

DirectedProbe::~DirectedProbe() {
    if (fd_ >= 0) ::close(fd_);
}

bool DirectedProbe::send() {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscoveryPort);
    if (inet_pton(AF_INET, ip_.c_str(), &to.sin_addr) != 1) return false;
    ++sent_;
    return sendto(fd_, probe_.data(), probe_.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
}

bool DirectedProbe::wait(Announcement& found) {
    if (fd_ < 0) return false;
    using Clock = std::chrono::steady_clock;
    // After a long request the wait still gets half its time, the resend included; an answer
    // already queued is read at once.
    const auto half = std::chrono::milliseconds(wait_ms_ / 2);
    if (Clock::now() - begin_ > half) begin_ = Clock::now() - half;
    const auto until = begin_ + std::chrono::milliseconds(wait_ms_);
    in_addr asked{};
    inet_pton(AF_INET, ip_.c_str(), &asked);
    std::vector<char> buffer(65536);
    for (;;) {
        const auto now = Clock::now();
        if (now >= until) return false;
        // UDP may be lost on the way or in a device's full queue (a batch probes hundreds at
        // once): the probe goes again halfway through the wait.
        const auto next_send = begin_ + std::chrono::milliseconds(wait_ms_ / 2);
        // Due or not, an answer already queued is taken before the probe goes again.
        const bool resend_due = sent_ < 2 && now >= next_send;
        const auto stop_at = sent_ < 2 ? std::min(until, next_send) : until;
        const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(stop_at - now).count();
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, resend_due ? 0 : static_cast<int>(std::max(1LL, left)));
        if (ready < 0) return false;
        if (ready == 0) {
            if (resend_due && !send()) return false;
            continue;
        }
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
        // Replies from other hosts are not parsed at all: a crowded network answers a probe
        // from everywhere.
        if (n <= 0 || from.sin_addr.s_addr != asked.s_addr) continue;
        std::vector<Announcement> replies;
        if (!parseDiscovery(buffer.data(), static_cast<size_t>(n), replies)) continue;
        // Whoever listens on the port may answer for others too: only the address asked counts.
        for (const Announcement& a : replies) {
            if (a.kind == Announcement::ProbeMatch && a.ip == ip_) {
                found = a;
                return true;
            }
        }
    }
}

Discovery::~Discovery() { stop(); }

bool Discovery::start(Sink sink) {
    stop();
    const int probe_fd = probeSocket();
    if (probe_fd < 0) return false;
    const int hello_fd = helloSocket();
    std::lock_guard<std::mutex> lk(mu_);
    sink_ = std::move(sink);
    stop_ = false;
    try {
        thread_ = std::thread([this, probe_fd, hello_fd] { run(probe_fd, hello_fd); });
    } catch (...) {
        ::close(probe_fd);
        if (hello_fd >= 0) ::close(hello_fd);
        return false;
    }
    return true;
}

void Discovery::stop() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lk(mu_);
        stop_ = true;
        t = std::move(thread_);
    }
    if (t.joinable()) {
        if (t.get_id() == std::this_thread::get_id()) {
            t.detach();  // stopped from the sink: the thread ends when the sink returns
        } else {
            t.join();
        }
    }
}

void Discovery::run(int probe_fd, int hello_fd) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point begin = Clock::now();
    size_t next_probe = 0;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kDiscoveryPort);
    inet_pton(AF_INET, kDiscoveryGroup, &group.sin_addr);
    std::vector<char> buffer(65536);
    Sink sink;
    {
        std::lock_guard<std::mutex> lk(mu_);
        sink = sink_;
    }
    constexpr size_t kProbes = sizeof kProbeOffsetsMs / sizeof kProbeOffsetsMs[0];
    while (!stop_) {
        const long elapsed = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count());
        while (next_probe < kProbes && elapsed >= kProbeOffsetsMs[next_probe]) {
            const std::string probe = probeMessage(newMessageId());
            sendto(probe_fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&group),
                   sizeof group);
            ++next_probe;
        }
        const int wait_ms = next_probe < kProbes ? std::max(1L, kProbeOffsetsMs[next_probe] - elapsed) : 100;
        pollfd fds[2] = {{probe_fd, POLLIN, 0}, {hello_fd, POLLIN, 0}};
        const int ready = poll(fds, hello_fd >= 0 ? 2 : 1, std::min(wait_ms, 100));
        if (ready <= 0) continue;
        for (const pollfd& p : fds) {
            if (p.fd < 0 || (p.revents & POLLIN) == 0) continue;
            // Drain the queue before the next wait: a burst of replies must not overflow it.
            for (;;) {
                const ssize_t n = recv(p.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (n <= 0 || stop_) break;
                std::vector<Announcement> found;
                if (!parseDiscovery(buffer.data(), static_cast<size_t>(n), found)) continue;
                for (const Announcement& a : found) sink(a);
            }
        }
    }
    ::close(probe_fd);
    if (hello_fd >= 0) ::close(hello_fd);
}

}  // namespace onvif
}  // namespace rudavado
