#include "discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool directedProbe(const std::string& ip, int wait_ms, Announcement& found) {
    const int fd = probeSocket();
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscoveryPort);
    bool ok = inet_pton(AF_INET, ip.c_str(), &to.sin_addr) == 1;
    const std::string id = newMessageId();
    const std::string probe = probeMessage(id);
    ok = ok && sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    std::vector<char> buffer(65536);
    bool matched = false;
    while (ok && !matched) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
        // Replies from other hosts are not parsed at all: a crowded network answers a probe
        // from everywhere.
        if (n <= 0 || from.sin_addr.s_addr != to.sin_addr.s_addr) continue;
        std::vector<Announcement> replies;
        if (!parseDiscovery(buffer.data(), static_cast<size_t>(n), replies)) continue;
        // Whoever listens on the port may answer for others too: only the address asked counts.
        for (const Announcement& a : replies) {
            if (a.kind == Announcement::ProbeMatch && a.ip == ip && !matched) {
                found = a;
                matched = true;
            }
        }
    }
    ::close(fd);
    return matched;
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
