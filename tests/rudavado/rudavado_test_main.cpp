// Runs the camera library tests with simulated durations shortened a thousandfold, unless
// KP_TIME_SCALE says otherwise.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RuDAVADO_control.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("KP_TIME_SCALE") == nullptr) RuDAVADO_SetTimeScale(0.001);
    return RUN_ALL_TESTS();
}
