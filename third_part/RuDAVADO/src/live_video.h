// One live video: a thread that draws a moving test picture (camera address, camera clock, frame
// counter) into a native X11 window, or only counts frames when no display or window is usable.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace rudavado {

class LivePlay {
public:
    LivePlay(uint64_t session, int camera, uint64_t generation, unsigned long window);
    ~LivePlay();
    LivePlay(const LivePlay&) = delete;
    LivePlay& operator=(const LivePlay&) = delete;

    // Starts the thread; returns once it knows whether it can draw.
    void start();
    // Ends the thread and waits for it; safe to call more than once.
    void stop();

    uint64_t session() const { return session_; }
    int camera() const { return camera_; }
    uint64_t generation() const { return generation_; }
    long long frames() const { return frames_.load(); }
    bool draws() const { return draws_.load(); }

private:
    void run();
    bool waitFrame();

    const uint64_t session_;
    const int camera_;
    const uint64_t generation_;
    const unsigned long window_;
    std::atomic<long long> frames_{0};
    std::atomic<bool> draws_{false};
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool ready_ = false;
    std::mutex join_mu_;
    std::thread thread_;
};

}  // namespace rudavado
