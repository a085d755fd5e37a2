// One ONVIF device as the backend talks to it: its device service address, the login, the
// device's clock offset (for the UsernameToken's date) and the media service address. Each
// method is one or a few requests and returns KPLPRC_ERR_*; none keeps a lock, so one client
// is used by one thread at a time.
#pragma once

#include <functional>
#include <string>

#include "http.h"
#include "soap.h"

namespace rudavado {
namespace onvif {

struct DeviceInformation {
    std::string manufacturer, model, firmware, serial, hardware;
};

struct NetworkSettings {
    std::string token, ip, mac, gateway, dns;
    int prefix = 24;
};

struct FirmwareUpload {
    std::string uri;
    long delay_s = 0;
    long down_s = 0;
};

// xs:duration ("PT1M30S") in seconds; -1 when malformed.
long parseDuration(const std::string& text);
// Dotted mask <-> prefix length; -1 for a mask that is not contiguous.
int prefixOfMask(const std::string& mask);
std::string maskOfPrefix(int prefix);

class DeviceClient {
public:
    DeviceClient(std::string device_url, Credentials credentials, HttpTimeouts timeouts = HttpTimeouts());

    const std::string& deviceUrl() const { return device_url_; }
    const Credentials& credentials() const { return credentials_; }
    void setPassword(const std::string& password) { credentials_.password = password; }
    long long clockOffset() const { return clock_offset_s_; }
    // An offset read moments ago by another client of the same device: saves a request. A token
    // refused because the offset is stale reads the clock again (see call()).
    void setClockOffset(long long offset_s) { clock_offset_s_ = offset_s; }
    // Ends the kept-alive connection; the next request opens a new one.
    void closeConnection() { connection_.close(); }
    // Hands the kept-alive connection over (and takes the other's), so the next client of the
    // same device needs no new one.
    void swapConnection(HttpConnection& other) { connection_.swap(other); }

    // GetSystemDateAndTime, answered without login: the device's UTC clock (and its local clock
    // when it tells one) in seconds; also updates the clock offset.
    int readClock(long long* utc = nullptr, long long* local = nullptr);
    int getDeviceInformation(DeviceInformation& info);
    // GetCapabilities, falling back to GetServices: keeps the media service address.
    int findServices();
    int getEndpointReference(std::string& endpoint);
    int setDateTime(long long utc_seconds, const std::string& posix_tz);
    int reboot();
    int factoryDefault(bool hard);
    // SetUser for the logged-in user, keeping its level (GetUsers).
    int changePassword(const std::string& password);
    // GetNetworkInterfaces, and with `full` also GetNetworkDefaultGateway and GetDNS.
    int getNetwork(NetworkSettings& net, bool full = true);
    // SetNetworkDefaultGateway, then SetNetworkInterfaces (the device may leave its address at once).
    int setNetwork(const NetworkSettings& net, bool& reboot_needed);
    int startFirmwareUpgrade(FirmwareUpload& upload);
    // UpgradeSystemFirmware: the package as an MTOM attachment, for devices without the upload
    // of StartFirmwareUpgrade. `progress` as for httpUpload.
    int upgradeSystemFirmware(const std::string& package, const std::function<bool(int)>& progress,
                              bool& cancelled);
    // Media GetProfiles then GetStreamUri (RTP over RTSP over TCP) of the first profile.
    int getStreamUri(std::string& uri);

    // One request to `url`; `action` is the operation's full action URI.
    int call(const std::string& url, const std::string& action, const std::string& body, SoapReply& reply,
             bool with_login = true);

private:
    int callOnce(const std::string& url, const std::string& action, const std::string& body, SoapReply& reply,
                 bool with_login);
    int device(const char* operation, const std::string& body, SoapReply& reply, bool with_login = true);

    std::string device_url_;
    Credentials credentials_;
    HttpTimeouts timeouts_;
    long long clock_offset_s_ = 0;
    std::string media_url_;
    HttpConnection connection_;
};

}  // namespace onvif
}  // namespace rudavado
