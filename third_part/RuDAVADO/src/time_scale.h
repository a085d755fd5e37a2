// The process time scale of the simulated cameras: every duration is multiplied by it. Read from
// KP_TIME_SCALE (a positive decimal number, default 1) on first use; RuDAVADO_SetTimeScale changes
// it. The library reads the variable itself, since it shares no code with the program.
#pragma once

namespace rudavado {

double timeScale();
void setTimeScale(double scale);
// `milliseconds` at scale 1, scaled, in microseconds.
long long scaledMicroseconds(double milliseconds);

}  // namespace rudavado
