#include "thread_refusal.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

// Thread starts still allowed before the refusal; negative: no refusal.
std::atomic<long> allowed{-1};
// Thread starts still to refuse once it began; negative: every later one.
std::atomic<long> to_refuse{-1};
std::atomic<long> refused{0};

__attribute__((constructor)) void ReadEnvironment() {
    const char* text = std::getenv("KP_REFUSE_THREADS");
    if (text == nullptr) return;
    char* end = nullptr;
    const long first = std::strtol(text, &end, 10);
    if (end == text) return;
    long count = -1;
    if (*end == ':') {
        const char* rest = end + 1;
        count = std::strtol(rest, &end, 10);
        if (end == rest) return;
    }
    if (*end != '\0') return;
    kp_refuse_threads(first, count);
}

bool Refuse() {
    long left = allowed.load();
    while (left > 0) {
        if (allowed.compare_exchange_weak(left, left - 1)) return false;
    }
    if (left < 0) return false;
    long refusing = to_refuse.load();
    while (refusing > 0) {
        if (to_refuse.compare_exchange_weak(refusing, refusing - 1)) {
            ++refused;
            return true;
        }
    }
    if (refusing == 0) return false;  // the refusals asked for are used up
    ++refused;
    return true;
}

}  // namespace

extern "C" {

void kp_refuse_threads(long allowed_first, long refusals) {
    to_refuse = refusals < 0 ? -1 : refusals;
    allowed = allowed_first < 0 ? -1 : allowed_first;
}

long kp_threads_refused(void) { return refused.load(); }

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (Refuse() || real == nullptr) return EAGAIN;
    return real(thread, attributes, start, argument);
}

}  // extern "C"
