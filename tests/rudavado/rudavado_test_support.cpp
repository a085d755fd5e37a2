#include "rudavado_test_support.h"

#include <iconv.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace rdvtest {
namespace {

std::string convert(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    std::string out(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = &out[0];
    size_t dst_left = out.size();
    iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    out.resize(out.size() - dst_left);
    return out;
}

}  // namespace

bool waitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string sourceDir() { return RUDAVADO_SOURCE_DIR; }

int run(const std::string& command) { return std::system(command.c_str()); }

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string toGb2312(const std::string& utf8) { return convert("GB2312", "UTF-8", utf8); }
std::string fromGb2312(const std::string& gb) { return convert("UTF-8", "GB2312", gb); }

void KPLPRC_CALL NotifyLog::callback(KPLPRC_HANDLE handle, void* user, KP_LPRC_COMMON_NOTIFY code, int) {
    auto* self = static_cast<NotifyLog*>(user);
    std::lock_guard<std::mutex> lk(self->mu_);
    self->events_.emplace_back(handle, static_cast<int>(code));
}

void NotifyLog::clear() {
    std::lock_guard<std::mutex> lk(mu_);
    events_.clear();
}

std::vector<int> NotifyLog::codesFor(KPLPRC_HANDLE handle) {
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<int> out;
    for (auto& e : events_) {
        if (e.first == handle) out.push_back(e.second);
    }
    return out;
}

bool NotifyLog::has(KPLPRC_HANDLE handle, int code) {
    for (int c : codesFor(handle)) {
        if (c == code) return true;
    }
    return false;
}

void NetworkTest::SetUp() {
    ASSERT_EQ(0, RuDAVADO_LoadDefaultScenario());
    ASSERT_EQ(0, KpLPRClient_Setup());
    ASSERT_EQ(0, KPLPRClient_SetCommonNotifyCallBack(&NotifyLog::callback, &notes_));
    char tmpl[] = "/tmp/rudavado_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
}

void NetworkTest::TearDown() {
    KpLPRClient_Cleanup();
    RuDAVADO_ClearFaults();
    if (!dir_.empty()) run("rm -rf '" + dir_ + "'");
}

KPLPRC_HANDLE NetworkTest::open(const char* ip, int port, const char* user, const char* password) {
    return KpLPRClient_Open(ip, port, user, password);
}

int NetworkTest::camera(const char* ip) {
    int index = RuDAVADO_FindCamera(ip);
    EXPECT_GE(index, 0) << ip;
    return index;
}

RuDAVADO_CameraState NetworkTest::state(int camera) {
    RuDAVADO_CameraState s{};
    EXPECT_EQ(0, RuDAVADO_GetCameraState(camera, &s));
    return s;
}

bool NetworkTest::online(int camera) { return state(camera).state == RUDAVADO_STATE_ONLINE; }

}  // namespace rdvtest
