// Runs the camera library tests with simulated durations shortened a thousandfold, unless
// KP_TIME_SCALE says otherwise.
#include <gtest/gtest.h>

#include <cstdlib>

#include "kp_platform.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("KP_TIME_SCALE") == nullptr) {
        kp::setTimeScale(0.001);
#ifdef _WIN32
        // The library DLL holds its own copy of the platform layer, which reads the variable.
        _putenv_s("KP_TIME_SCALE", "0.001");
#endif
    }
    return RUN_ALL_TESTS();
}
