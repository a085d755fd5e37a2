// Constants and small helpers shared by the ONVIF backend's files.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "../time_scale.h"
#include "RuDAVADO.h"
#include "http.h"

namespace rudavado {
namespace onvif {
namespace detail {

using SteadyClock = std::chrono::steady_clock;

// Handles are numbers far from any heap address, so a pointer of the simulated network or a
// stray value is never taken for one of ours.
constexpr uintptr_t kHandleBase = 0x0DF00000u;

inline KPLPRC_HANDLE toHandle(uint64_t id) { return reinterpret_cast<KPLPRC_HANDLE>(kHandleBase + id); }

inline uint64_t fromHandle(KPLPRC_HANDLE handle) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(handle);
    return v > kHandleBase ? v - kHandleBase : 0;
}

// Waits of the backend follow the process time scale, with a floor so that a scaled-down test
// run does not spin.
inline std::chrono::milliseconds scaledWait(double ms, long floor_ms) {
    return std::chrono::milliseconds(std::max<long long>(floor_ms, scaledMicroseconds(ms) / 1000));
}

const HttpTimeouts kCallTimeouts{3000, 10000};
const HttpTimeouts kPollTimeouts{1000, 2000};
constexpr double kPollIntervalMs = 2000;
// A session's connection is closed after this long without a call.
constexpr double kConnectionIdleMs = 1000;
// A device that still answers this long after a restart request is taken as back (it restarted
// faster than the poll could see, or not at all).
constexpr double kRestartGraceMs = 20000;
// How long a device asked by a directed probe has to answer.
constexpr int kDirectedProbeMs = 1000;
// How long an address change may take before the device answers at its new address.
constexpr double kMoveWaitMs = 60000;

inline std::string deviceUrl(const std::string& ip, int port) {
    return "http://" + ip + (port == 80 ? "" : ":" + std::to_string(port)) + "/onvif/device_service";
}

}  // namespace detail
}  // namespace onvif
}  // namespace rudavado
