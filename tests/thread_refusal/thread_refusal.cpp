#include "thread_refusal.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

// Thread starts still allowed; negative: no refusal.
std::atomic<long> allowed{-1};
std::atomic<long> refused{0};

__attribute__((constructor)) void ReadEnvironment() {
    if (const char* text = std::getenv("KP_REFUSE_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0') allowed = value;
    }
}

bool Refuse() {
    long left = allowed.load();
    while (left >= 0) {
        if (left == 0) {
            ++refused;
            return true;
        }
        if (allowed.compare_exchange_weak(left, left - 1)) return false;
    }
    return false;
}

}  // namespace

extern "C" {

void kp_refuse_threads_after(long count) { allowed = count < 0 ? -1 : count; }

long kp_threads_refused(void) { return refused.load(); }

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (Refuse() || real == nullptr) return EAGAIN;
    return real(thread, attributes, start, argument);
}

}  // extern "C"
