#include "deviceconnection.h"

#include <cctype>
#include <cstring>

#include "fixed_text.h"
#include "sdkplate.h"

namespace factory {

DeviceConnection::DeviceConnection(std::string ip, int port, std::string user_name, std::string password)
    : ip_(std::move(ip)), port_(port), user_name_(std::move(user_name)), password_(std::move(password)) {}

DeviceConnection::~DeviceConnection() {
    // A session that a refused logout left open would otherwise stay on the camera for good.
    if (sdk_ && sdk_->SDK_GetHandle() != nullptr) sdk_->SDK_Close();
}

bool DeviceConnection::Login() {
    std::lock_guard<std::mutex> session(session_lock_);
    if (!sdk_) sdk_ = std::make_shared<sdkplate>();

    // A failed open leaves no handle, so the first read below fails and logs.
    sdk_->SDK_Open(ip_, port_, user_name_, password_);
    // The library keeps the reason per thread: read it before anything else calls it here.
    const KPLPRC_HANDLE handle = sdk_->SDK_GetHandle();
    const int error = handle == nullptr ? KpLPRClient_GetLastError() : KPLPRC_ERR_NONE;
    {
        std::lock_guard<std::mutex> data(data_lock_);
        sdk_handle_ = handle;
        login_error_ = error;
    }
    return ReadDetails();
}

bool DeviceConnection::Refresh() {
    std::lock_guard<std::mutex> session(session_lock_);
    if (!sdk_ || sdk_->SDK_GetHandle() == nullptr) return false;
    return ReadDetails();
}

bool DeviceConnection::ReadDetails() {
    std::string mac;
    std::string serial;
    if (!sdk_->SDK_GetHwInfo(mac, serial)) return false;
    std::string firmware;
    if (!sdk_->SDK_GetSystemVersion(firmware)) return false;
    KPLPRC_NET_CONFIG netcfg;
    std::memset(&netcfg, 0, sizeof(netcfg));
    if (!sdk_->SDK_GetNetConfig(&netcfg)) return false;

    std::lock_guard<std::mutex> data(data_lock_);
    mac_text_ = std::move(mac);
    serial_text_ = std::move(serial);
    firmware_version_ = std::move(firmware);
    netmask_ = FixedText(netcfg.netmask);
    gateway_ = FixedText(netcfg.gateway);
    return true;
}

bool DeviceConnection::Close() {
    std::lock_guard<std::mutex> session(session_lock_);
    if (!sdk_ || sdk_->SDK_GetHandle() == nullptr) return true;
    const bool closed = sdk_->SDK_Close();
    std::lock_guard<std::mutex> data(data_lock_);
    sdk_handle_ = sdk_->SDK_GetHandle();
    return closed;
}

KPLPRC_HANDLE DeviceConnection::GetSdkHandle() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return sdk_handle_;
}

int DeviceConnection::GetLoginError() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return login_error_;
}

std::string DeviceConnection::GetFirmwareVersion() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return firmware_version_;
}

std::string DeviceConnection::GetSerialText() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return serial_text_;
}

bool DeviceConnection::GetSerialWords(unsigned int& high, unsigned int& low) const {
    const std::string text = GetSerialText();
    // Exactly two groups of eight hex digits: anything else is not a serial the address change
    // could name the camera by.
    if (text.size() != 17 || text[8] != '-') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != 8 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    high = static_cast<unsigned int>(std::stoul(text.substr(0, 8), nullptr, 16));
    low = static_cast<unsigned int>(std::stoul(text.substr(9, 8), nullptr, 16));
    return true;
}

std::string DeviceConnection::GetMacText() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return mac_text_;
}

std::string DeviceConnection::GetNetmask() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return netmask_;
}

std::string DeviceConnection::GetGateway() const {
    std::lock_guard<std::mutex> data(data_lock_);
    return gateway_;
}

}  // namespace factory
