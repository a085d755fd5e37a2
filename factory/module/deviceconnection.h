// One camera of the local list as the connection manager keeps it: its login data, the session
// (a plate-camera wrapper) and the details each login reads (firmware, serial text, MAC,
// netmask, gateway).
//
// The reads may be called on any thread at any time and never wait for a login: a login does
// its network calls without holding the lock that guards the texts, and publishes what it read
// when it is done. Login and Close serialise on a second lock, so a camera has at most one
// login or logout in progress.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "RuDAVADO.h"

namespace factory {

class sdkplate;

class DeviceConnection {
public:
    DeviceConnection(std::string ip, int port, std::string user_name, std::string password);
    // Closes a session still open.
    ~DeviceConnection();

    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    // Opens a session (closing one still open) and reads the details; false when any step
    // fails. A failed open leaves no handle.
    bool Login();
    // Closes the session if there is one; true when none is left open.
    bool Close();
    // Reads the details again over the session the library re-opened after the camera came
    // back (a restart after an upgrade changes the firmware); false without a session.
    bool Refresh();

    const std::string& GetIp() const { return ip_; }
    int GetPort() const { return port_; }
    const std::string& GetUserName() const { return user_name_; }
    const std::string& GetPassword() const { return password_; }

    // Null while not logged in.
    KPLPRC_HANDLE GetSdkHandle() const;
    // Why the last login was refused (KPLPRC_ERR_*: a wrong password is not a camera that does
    // not answer); KPLPRC_ERR_NONE after a login that opened a session, or before any.
    int GetLoginError() const;
    std::string GetFirmwareVersion() const;
    std::string GetSerialText() const;
    // The two serial words of the serial text ("%08x-%08x"); false when it has no such form.
    bool GetSerialWords(unsigned int& high, unsigned int& low) const;
    std::string GetMacText() const;
    std::string GetNetmask() const;
    std::string GetGateway() const;

private:
    // The reads after an open, with session_lock_ held; publishes what it read.
    bool ReadDetails();

    const std::string ip_;
    const int port_;
    const std::string user_name_;
    const std::string password_;

    // Held for a whole login or close; guards the wrapper.
    std::mutex session_lock_;
    std::shared_ptr<sdkplate> sdk_;

    // Guards the published copies below; never held across a library call.
    mutable std::mutex data_lock_;
    KPLPRC_HANDLE sdk_handle_ = nullptr;
    int login_error_ = KPLPRC_ERR_NONE;
    std::string firmware_version_;
    std::string serial_text_;
    std::string mac_text_;
    std::string netmask_;
    std::string gateway_;
};

}  // namespace factory
