// Shared fixture and helpers of the camera library tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "RuDAVADO.h"
#include "RuDAVADO_control.h"

namespace rdvtest {

// The login of every camera of the default network that the scenario gives no password.
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "tolvi";

// Polls `done` until it holds or `timeout_ms` of real time pass.
bool waitUntil(const std::function<bool()>& done, int timeout_ms = 10000);

// Folder of the library's sources (scenarios/, tools/).
std::string sourceDir();
// Runs a command through the shell; returns its exit status.
int run(const std::string& command);
std::string readAll(const std::string& path);
void writeAll(const std::string& path, const std::string& content);
std::string toGb2312(const std::string& utf8);
// Writes firmware packages with tools/make_firmware.py: every sample into folder `out` when
// `family` is empty, else one package of that family and version as file `out`. 0 on success.
int makeFirmware(const std::string& out, const std::string& family = "", const std::string& version = "");
std::string fromGb2312(const std::string& gb);

// Every notify the library delivers, in order.
class NotifyLog {
public:
    static void KPLPRC_CALL callback(KPLPRC_HANDLE handle, void* user, KP_LPRC_COMMON_NOTIFY code,
                                     int reserved);
    void clear();
    std::vector<int> codesFor(KPLPRC_HANDLE handle);
    bool has(KPLPRC_HANDLE handle, int code);

private:
    std::mutex mu_;
    std::vector<std::pair<KPLPRC_HANDLE, int>> events_;
};

// Default network, library set up, notify log registered; a fresh temporary folder per test.
class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    KPLPRC_HANDLE open(const char* ip, int port = 80, const char* user = kUser,
                       const char* password = kPassword);
    int camera(const char* ip);
    RuDAVADO_CameraState state(int camera);
    bool online(int camera);
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    NotifyLog notes_;
    std::string dir_;
};

}  // namespace rdvtest
