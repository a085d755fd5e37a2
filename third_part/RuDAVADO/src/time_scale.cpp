#include "time_scale.h"

#include <atomic>
#include <cstdlib>

#include "RuDAVADO_control.h"

namespace rudavado {
namespace {

double fromEnvironment() {
    const char* text = std::getenv("KP_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && value > 0.0 ? value : 1.0;
}

std::atomic<double>& scaleValue() {
    static std::atomic<double> scale{fromEnvironment()};
    return scale;
}

}  // namespace

double timeScale() { return scaleValue().load(); }

void setTimeScale(double scale) { scaleValue().store(scale); }

long long scaledMicroseconds(double milliseconds) {
    return static_cast<long long>(milliseconds * 1000.0 * timeScale());
}

}  // namespace rudavado

extern "C" {

KPLPRC_API int RuDAVADO_SetTimeScale(double scale) {
    if (!(scale > 0.0)) return -1;
    rudavado::setTimeScale(scale);
    return 0;
}

KPLPRC_API double RuDAVADO_GetTimeScale(void) { return rudavado::timeScale(); }

}  // extern "C"
