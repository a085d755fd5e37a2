// Session, account, restart, address, restore, clock and firmware operations of one camera.
// Each operation blocks its (worker) thread for its waits and sets the row text in `message`.
#pragma once

#include <functional>
#include <string>

#include "basemodule.h"

namespace factory {

class devicebasemodule : public basemodule {
public:
    // Upgrade progress: (KP_UPDATE_STATE_* or 1/2 for the restart after success, percent).
    using UpdateCallback = std::function<void(int state, int percent)>;

    // SetPassword's message when the camera took the new password.
    static constexpr const char* kPasswordSet = "设置密码成功";

    // How long an upgrade may go without a progress answer (state "running" with a percentage
    // beyond every earlier one) before it counts as failed, in milliseconds at time scale 1. Far
    // longer than a restart (about 15 s) or a connect time-out, so only a camera that is gone or
    // stuck trips it.
    static constexpr int kUpdateNoAnswerLimitMs = 5 * 60 * 1000;

    bool Login(std::string ip, int port, std::string user, std::string password, std::string& message);
    bool Logout(std::string& message);
    bool SetPassword(std::string password, std::string& message);
    bool Reboot();
    bool Restore(unsigned int kind, std::string& message);
    bool SetTime(std::string& message);
    // Works without a login and without a wrapper: the camera is addressed by its serial words.
    bool ModifyIp(unsigned int serial_high, unsigned int serial_low, std::string ip, std::string gateway,
                  std::string mask, std::string& message);
    bool UpdateDevice(std::string path, std::string& message, const UpdateCallback& callback);
};

}  // namespace factory
