// The ONVIF backend: the C interface over WS-Discovery and the ONVIF device and media services
// of real cameras. Sessions are the library's own (ONVIF has none): a handle keeps the device's
// address and login, and a light poll of each address (GetSystemDateAndTime, no login) turns a
// device that stops or starts answering into the common notify callback's events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../api_support.h"
#include "../backend.h"
#include "backend_detail.h"
#include "device_client.h"
#include "discovery.h"

namespace rudavado {
namespace onvif {

class RtspPlay;

class OnvifBackend : public Backend {
public:
    OnvifBackend();
    ~OnvifBackend() override;

    int setup() override;
    int cleanup() override;

    int startFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback, void* user_data) override;
    int startFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback, void* user_data) override;
    int stopFindDevice() override;
    int setCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback, void* user_data) override;

    KPLPRC_HANDLE open(const char* ip, int port, const char* user, const char* password) override;
    int close(KPLPRC_HANDLE handle) override;
    int setLoginAccount(KPLPRC_HANDLE handle, const char* password) override;
    int getDateTime(KPLPRC_HANDLE handle, KPLPRC_DATETIME* time) override;
    int setDateTime(KPLPRC_HANDLE handle, const KPLPRC_DATETIME* time) override;
    int rebootDevice(KPLPRC_HANDLE handle) override;
    int restorePart(KPLPRC_HANDLE handle) override;
    int restoreFull(KPLPRC_HANDLE handle) override;

    int update(KPLPRC_HANDLE handle, const char* path) override;
    int stopUpdate(KPLPRC_HANDLE handle) override;
    int getUpdateState(KPLPRC_HANDLE handle) override;
    int getUpdateProgress(KPLPRC_HANDLE handle) override;

    int getConfig(KPLPRC_HANDLE handle, unsigned int command, int channel, void* buffer,
                  unsigned int buffer_size) override;
    int paraExportV2(KPLPRC_HANDLE handle, const KP_PARAM_IMPORT_ABILITY_V2* ability,
                     const char* path) override;
    int paraImportV2(KPLPRC_HANDLE handle, const char* path) override;
    int faceUpload(KPLPRC_HANDLE handle, const char* path) override;

    int startRealPlay(KPLPRC_HANDLE handle, void* window) override;
    int stopRealPlay(int play_handle) override;

    int updateNetworkParam(unsigned int serial_high, unsigned int serial_low, const char* ip,
                           const char* gateway, const char* netmask) override;

    int getHwInfoEx(const char* ip, int port, KPLPRC_HWINFO_EX* info) override;
    int getHwInfo(KPLPRC_HANDLE handle, int* kind, char* mac, char* serial, int* lens_code,
                  unsigned char* block) override;
    int getSerialNumber(KPLPRC_HANDLE handle, unsigned int* serial_high, unsigned int* serial_low) override;
    int getHwBoardVersion(KPLPRC_HANDLE handle, int board, unsigned char* version) override;
    int getRemoteSoftWareVersion(KPLPRC_HANDLE handle, int* major, int* minor, int* revision,
                                 int* build) override;
    int getSystemVersion(KPLPRC_HANDLE handle, char* version) override;
    int getNetConfig(KPLPRC_HANDLE handle, KPLPRC_NET_CONFIG* config) override;
    int setIoOutput(KPLPRC_HANDLE handle, int channel, int output, int level) override;
    long long playFrames(int play_handle) override;
    int playDraws(int play_handle) override;

    // Sessions not closed yet (for tests and figures).
    size_t openSessions();

private:
    // A device as far as the backend knows it, from discovery or a login; shared by its sessions.
    struct Device {
        std::string endpoint;
        std::string ip;
        int port = 80;
        std::string url;  // device service
        uint32_t serial_high = 0, serial_low = 0;
        bool has_login = false;
        Credentials login;  // the last login that worked, for calls that come without one
        DeviceInformation info;
        std::string mac;
        // The clock offset read by the last call that asked, for a login that follows at once.
        long long clock_offset_s = 0;
        std::chrono::steady_clock::time_point clock_read_at;
        bool clock_known = false;
        bool restarting = false;  // sent a restart; back once it was seen down (or after a grace)
        bool seen_down = false;
        std::chrono::steady_clock::time_point restart_since;
        // The connection a GetHwInfoEx left open, for the login that follows it; the session
        // watch closes it once it idles.
        std::shared_ptr<HttpConnection> spare;
        std::string spare_url;
        std::chrono::steady_clock::time_point spare_since;
    };

    struct Upgrade {
        int state = KP_UPDATE_STATE_IDLE;
        int percent = 0;
        bool cancel = false;
        std::thread thread;
    };

    struct Session {
        uint64_t id = 0;
        std::shared_ptr<Device> device;
        std::string ip;
        int port = 0;
        std::unique_ptr<DeviceClient> client;  // used under call_mu
        // Under call_mu: the poll closes the client's connection once it idles (a site may keep
        // hundreds of sessions; the next call after a login finds it open).
        std::chrono::steady_clock::time_point last_call;
        std::mutex call_mu;
        Credentials login;  // the client's, under the backend's mu_ for the poll
        bool alive = true;
        bool refusal_notified = false;
        Upgrade upgrade;  // under the backend's mu_
        std::vector<int> plays;
    };

    struct Pending {
        uint64_t session;
        KP_LPRC_COMMON_NOTIFY code;
    };

    std::shared_ptr<Session> findSession(KPLPRC_HANDLE handle);
    // Runs `body(session)` with the session's client; errors before it: invalid handle, dropped.
    template <typename Body>
    int onSession(KPLPRC_HANDLE handle, Body&& body);
    std::shared_ptr<Device> deviceAt(const std::string& ip, int port);    // under mu_
    std::shared_ptr<Device> deviceBySerial(uint32_t high, uint32_t low);  // under mu_
    void noteAnnouncement(const Announcement& a);
    // The device restarts: its sessions are dropped with `code` until the poll sees it back.
    void markRestart(const std::shared_ptr<Device>& device, KP_LPRC_COMMON_NOTIFY code, bool restarting);
    int startDiscovery();
    void report(const Announcement& a);
    void pollLoop();
    void pollOnce();
    void deliver(std::vector<Pending>& pending);
    void runUpgrade(std::shared_ptr<Session> s, std::string package, FirmwareUpload upload,
                    bool inline_upload);
    int restart(KPLPRC_HANDLE handle, int kind);

    std::mutex mu_;
    std::condition_variable cv_;
    bool setup_ = false;
    bool stop_ = false;
    // stop_ for requests under way, which cannot wait for mu_.
    std::atomic<bool> stopping_{false};
    bool wake_ = false;
    std::vector<std::shared_ptr<Device>> devices_;
    std::map<uint64_t, std::shared_ptr<Session>> sessions_;
    uint64_t next_session_ = 1;
    std::map<int, std::shared_ptr<RtspPlay>> plays_;
    int next_play_ = 1;
    std::vector<Pending> pending_;
    std::thread poll_thread_;

    // Callbacks and the search's reported endpoints (under cb_mu_).
    std::recursive_mutex cb_mu_;
    KPLPRC_FIND_DEVICE_CALLBACK_EX find_ex_ = nullptr;
    void* find_ex_user_ = nullptr;
    KPLPRC_FIND_DEVICE_CALLBACK_V2 find_v2_ = nullptr;
    void* find_v2_user_ = nullptr;
    bool searching_ = false;
    std::map<std::string, bool> reported_;
    KPLPRC_COMMON_NOTIFY_CALLBACK notify_ = nullptr;
    void* notify_user_ = nullptr;
    Discovery discovery_;
};

template <typename Body>
int OnvifBackend::onSession(KPLPRC_HANDLE handle, Body&& body) {
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
        auto it = sessions_.find(detail::fromHandle(handle));
        if (it == sessions_.end()) return fail(KPLPRC_ERR_INVALID_HANDLE);
        s = it->second;
        if (!s->alive) return fail(KPLPRC_ERR_SESSION_LOST);
    }
    std::lock_guard<std::mutex> call(s->call_mu);
    const int code = body(*s);
    s->last_call = detail::SteadyClock::now();
    return finish(code);
}

}  // namespace onvif
}  // namespace rudavado
