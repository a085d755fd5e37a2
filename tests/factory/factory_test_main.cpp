// Runs the device-operation tests against the simulated cameras with every wait shortened a
// thousandfold, so that an 80-attempt wait or a firmware upgrade takes milliseconds.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RuDAVADO.h"
#include "kp_platform.h"

int main(int argc, char** argv) {
    // The camera library may hold its own copy of the platform layer, which reads the variable.
#ifdef _WIN32
    _putenv_s("KP_TIME_SCALE", "0.001");
#else
    setenv("KP_TIME_SCALE", "0.001", 1);
#endif
    kp::setTimeScale(0.001);
    testing::InitGoogleTest(&argc, argv);
    KpLPRClient_Setup();
    int result = RUN_ALL_TESTS();
    KpLPRClient_Cleanup();
    return result;
}
