// Turns the time scale down for one test and back afterwards. The program's own waits and the
// simulated cameras each read their own scale, so both are set.
#pragma once

#include <RuDAVADO_control.h>

#include "kp_platform.h"

class ScopedTimeScale {
public:
    explicit ScopedTimeScale(double scale) : program_(kp::timeScale()), library_(RuDAVADO_GetTimeScale()) {
        kp::setTimeScale(scale);
        RuDAVADO_SetTimeScale(scale);
    }
    ~ScopedTimeScale() {
        kp::setTimeScale(program_);
        RuDAVADO_SetTimeScale(library_);
    }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

private:
    double program_;
    double library_;
};
