// The process time scale: every fixed wait of the program is multiplied by it (KP_TIME_SCALE,
// default 1), so tests can run an 80-attempt wait in milliseconds. Shared by both systems.
#include <atomic>
#include <cstdlib>

#include "kp_platform.h"

namespace {

double readTimeScaleFromEnvironment() {
    const char* text = std::getenv("KP_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || !(value > 0.0)) return 1.0;
    return value;
}

std::atomic<double>& timeScaleValue() {
    static std::atomic<double> scale{readTimeScaleFromEnvironment()};
    return scale;
}

}  // namespace

namespace kp {

double timeScale() { return timeScaleValue().load(); }

void setTimeScale(double scale) {
    if (scale > 0.0) timeScaleValue().store(scale);
}

long long scaledMicroseconds(double milliseconds) {
    return static_cast<long long>(milliseconds * 1000.0 * timeScale());
}

}  // namespace kp
