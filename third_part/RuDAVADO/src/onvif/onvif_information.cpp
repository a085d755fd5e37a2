// The ONVIF backend's address change and information getters.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "../api_support.h"
#include "../util.h"
#include "backend_detail.h"
#include "onvif_backend.h"

namespace rudavado {
namespace onvif {

using namespace detail;

// ---- Network -----------------------------------------------------------------------------------

int OnvifBackend::updateNetworkParam(unsigned int serial_high, unsigned int serial_low, const char* ip,
                                     const char* gateway, const char* netmask) {
    if (!validNetworkParams(ip, gateway, netmask)) return fail(KPLPRC_ERR_PARAMETER);
    std::shared_ptr<Device> d;
    std::string url, old_ip;
    int port = 80;
    Credentials login;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
        d = deviceBySerial(serial_high, serial_low);
        if (d == nullptr) return fail(KPLPRC_ERR_NOT_FOUND);
        url = d->url;
        old_ip = d->ip;
        port = d->port;
        login = d->login;
        if (!d->has_login) {
            // No session ever logged in to it: the login configured for address changes.
            const char* user = std::getenv("RUDAVADO_ONVIF_USER");
            const char* password = std::getenv("RUDAVADO_ONVIF_PASSWORD");
            if (user == nullptr || password == nullptr) return fail(KPLPRC_ERR_AUTH);
            login = Credentials{user, password};
        }
    }
    if (old_ip != ip) {
        DeviceClient other(deviceUrl(ip, port), Credentials{}, kPollTimeouts);
        if (other.readClock() == KPLPRC_ERR_NONE) return fail(KPLPRC_ERR_ADDRESS_IN_USE);
    }
    DeviceClient client(url, login, kCallTimeouts);
    NetworkSettings net;
    int code = client.readClock();
    if (code == KPLPRC_ERR_NONE) code = client.getNetwork(net, false);
    if (code != KPLPRC_ERR_NONE) return fail(code == KPLPRC_ERR_TIMEOUT ? KPLPRC_ERR_NOT_FOUND : code);
    net.ip = ip;
    net.gateway = gateway;
    net.prefix = prefixOfMask(netmask);
    bool reboot_needed = false;
    code = client.setNetwork(net, reboot_needed);
    if (code != KPLPRC_ERR_NONE) return fail(code);
    if (reboot_needed) client.reboot();  // the device may already be gone from the old address
    markRestart(d, KP_LPRC_NOTIFY_OFFLINE, false);
    {
        std::lock_guard<std::mutex> lk(mu_);
        d->ip = ip;
        d->url = deviceUrl(ip, port);
    }
    // The change holds once the device answers at its new address.
    DeviceClient moved(deviceUrl(ip, port), Credentials{}, kPollTimeouts);
    const SteadyClock::time_point until = SteadyClock::now() + scaledWait(kMoveWaitMs, 2000);
    for (;;) {
        if (moved.readClock() == KPLPRC_ERR_NONE) return succeed();
        if (SteadyClock::now() >= until) return fail(KPLPRC_ERR_TIMEOUT);
        std::unique_lock<std::mutex> lk(mu_);
        if (cv_.wait_for(lk, scaledWait(1000, 20), [this] { return stop_; }))
            return fail(KPLPRC_ERR_NOT_SETUP);
    }
}

// ---- Information -------------------------------------------------------------------------------

int OnvifBackend::getHwInfoEx(const char* ip, int port, KPLPRC_HWINFO_EX* info) {
    if (ip == nullptr || info == nullptr || !isIpv4(ip)) return fail(KPLPRC_ERR_PARAMETER);
    std::shared_ptr<Device> d;
    Device copy;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
        d = deviceAt(ip, port);
        if (d != nullptr) copy = *d;
    }
    // A device no search has found is asked who it is while its clock is read, not after: in a
    // batch the answer is then waiting when the clock comes back.
    std::unique_ptr<DirectedProbe> probe;
    if (d == nullptr) probe = std::make_unique<DirectedProbe>(ip, kDirectedProbeMs);
    DeviceClient client(d != nullptr && !copy.url.empty() ? copy.url : deviceUrl(ip, port), copy.login,
                        kCallTimeouts);
    int code = client.readClock();
    if (code != KPLPRC_ERR_NONE) return fail(code);
    Announcement a;
    if (probe != nullptr && probe->wait(a) && a.port == port) {
        // Its serial words come from its endpoint reference, as in a search.
        noteAnnouncement(a);
        std::lock_guard<std::mutex> lk(mu_);
        d = deviceAt(ip, port);
        if (d != nullptr) copy = *d;
    }
    if (d != nullptr) {
        std::lock_guard<std::mutex> lk(mu_);
        d->clock_offset_s = client.clockOffset();
        d->clock_read_at = SteadyClock::now();
        d->clock_known = true;
    }
    NetworkSettings net;
    if (copy.has_login) {
        // Fresh values where a login is known; what discovery told otherwise.
        client.getDeviceInformation(copy.info);
        if (client.getNetwork(net) == KPLPRC_ERR_NONE && !net.mac.empty()) copy.mac = net.mac;
    }
    if (d != nullptr) {
        // A batch logs in right after this: its login takes this connection instead of a new one.
        auto spare = std::make_shared<HttpConnection>();
        client.swapConnection(*spare);
        std::lock_guard<std::mutex> lk(mu_);
        d->spare.swap(spare);
        d->spare_url = client.deviceUrl();
        d->spare_since = SteadyClock::now();
    }
    std::memset(info, 0, sizeof *info);
    copyText(info->ip, sizeof info->ip, ip);
    copyText(info->netmask, sizeof info->netmask, maskOfPrefix(net.prefix));
    copyText(info->gateway, sizeof info->gateway, net.gateway);
    copyText(info->mac, sizeof info->mac, copy.mac);
    char serial[32];
    std::snprintf(serial, sizeof serial, "%08x-%08x", copy.serial_high, copy.serial_low);
    copyText(info->serial, sizeof info->serial, serial);
    copyText(info->model, sizeof info->model, copy.info.model);
    copyText(info->firmware, sizeof info->firmware, copy.info.firmware);
    info->port = port;
    info->device_type = KPLPRC_DEVICE_PLATE;
    info->serial_high = copy.serial_high;
    info->serial_low = copy.serial_low;
    return succeed();
}

int OnvifBackend::getHwInfo(KPLPRC_HANDLE handle, int* kind, char* mac, char* serial, int* lens_code,
                            unsigned char* block) {
    return onSession(handle, [&](Session& s) {
        NetworkSettings net;
        const int code = s.client->getNetwork(net, false);
        if (code != KPLPRC_ERR_NONE) return code;
        if (kind) *kind = KPLPRC_DEVICE_PLATE;
        if (mac) copyText(mac, KPLPRC_HWINFO_TEXT_LEN, net.mac);
        if (serial) {
            char text[32];
            std::snprintf(text, sizeof text, "%08x-%08x", s.device->serial_high, s.device->serial_low);
            copyText(serial, KPLPRC_HWINFO_TEXT_LEN, text);
        }
        if (lens_code) *lens_code = 0;
        if (block) std::memset(block, 0, KPLPRC_HWINFO_BLOCK_LEN);  // no board data in ONVIF
        return KPLPRC_ERR_NONE;
    });
}

int OnvifBackend::getSerialNumber(KPLPRC_HANDLE handle, unsigned int* serial_high, unsigned int* serial_low) {
    if (serial_high == nullptr || serial_low == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        *serial_high = s.device->serial_high;
        *serial_low = s.device->serial_low;
        return KPLPRC_ERR_NONE;
    });
}

int OnvifBackend::getHwBoardVersion(KPLPRC_HANDLE handle, int board, unsigned char* version) {
    if (version == nullptr || board < 0 || board > 1) return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        DeviceInformation info;
        const int code = s.client->getDeviceInformation(info);
        if (code != KPLPRC_ERR_NONE) return code;
        std::memset(version, 0, KPLPRC_BOARD_VERSION_LEN);
        copyText(reinterpret_cast<char*>(version), KPLPRC_BOARD_VERSION_LEN, board == 0 ? info.hardware : "");
        return KPLPRC_ERR_NONE;
    });
}

int OnvifBackend::getRemoteSoftWareVersion(KPLPRC_HANDLE handle, int* major, int* minor, int* revision,
                                           int* build) {
    if (major == nullptr || minor == nullptr || revision == nullptr || build == nullptr) {
        return fail(KPLPRC_ERR_PARAMETER);
    }
    return onSession(handle, [&](Session& s) {
        DeviceInformation info;
        const int code = s.client->getDeviceInformation(info);
        if (code != KPLPRC_ERR_NONE) return code;
        // Makers write versions their own way ("V5.6.3 build 200720"): take the first numbers.
        int v[4] = {0, 0, 0, 0};
        const char* p = info.firmware.c_str();
        while (*p != '\0' && (*p < '0' || *p > '9')) ++p;
        const int n = std::sscanf(p, "%d.%d.%d.%d", &v[0], &v[1], &v[2], &v[3]);
        if (n < 1) return KPLPRC_ERR_DEVICE;
        *major = v[0];
        *minor = v[1];
        *revision = v[2];
        *build = v[3];
        return KPLPRC_ERR_NONE;
    });
}

int OnvifBackend::getSystemVersion(KPLPRC_HANDLE handle, char* version) {
    if (version == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        DeviceInformation info;
        const int code = s.client->getDeviceInformation(info);
        if (code == KPLPRC_ERR_NONE) copyText(version, KPLPRC_SYSTEM_VERSION_LEN, info.firmware);
        return code;
    });
}

int OnvifBackend::getNetConfig(KPLPRC_HANDLE handle, KPLPRC_NET_CONFIG* config) {
    if (config == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        NetworkSettings net;
        const int code = s.client->getNetwork(net);
        if (code != KPLPRC_ERR_NONE) return code;
        std::memset(config, 0, sizeof *config);
        copyText(config->ip, sizeof config->ip, net.ip.empty() ? s.ip : net.ip);
        copyText(config->netmask, sizeof config->netmask, maskOfPrefix(net.prefix));
        copyText(config->gateway, sizeof config->gateway, net.gateway);
        copyText(config->dns, sizeof config->dns, net.dns);
        copyText(config->mac, sizeof config->mac, net.mac);
        config->port = s.port;
        return KPLPRC_ERR_NONE;
    });
}

}  // namespace onvif
}  // namespace rudavado
