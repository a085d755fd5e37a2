#include "backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "api_support.h"

namespace rudavado {
namespace {

std::atomic<Backend*> g_other{nullptr};
std::mutex g_select_mu;

}  // namespace

Backend* otherBackend() { return g_other.load(std::memory_order_acquire); }

int setupBackend(bool& simulated) {
    std::lock_guard<std::mutex> lk(g_select_mu);
    const char* name = std::getenv("RUDAVADO_BACKEND");
    simulated = false;
    if (otherBackend() != nullptr) return succeed();  // set up already
    if (name == nullptr || *name == '\0' || std::strcmp(name, "simulated") == 0) {
        simulated = true;
        return succeed();
    }
#if defined(RUDAVADO_WITH_ONVIF)
    if (std::strcmp(name, "onvif") == 0) {
        Backend& b = onvifBackend();
        if (b.setup() != 0) return -1;
        g_other.store(&b, std::memory_order_release);
        return succeed();
    }
#endif
    return fail(KPLPRC_ERR_NOT_SUPPORTED);
}

int cleanupOtherBackend() {
    std::lock_guard<std::mutex> lk(g_select_mu);
    Backend* b = g_other.exchange(nullptr, std::memory_order_acq_rel);
    if (b == nullptr) return fail(KPLPRC_ERR_NOT_SETUP);
    return b->cleanup();
}

}  // namespace rudavado
