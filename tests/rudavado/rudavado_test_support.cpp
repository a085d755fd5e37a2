#include "rudavado_test_support.h"

#include <stdlib.h>

#include "../unique_temp_dir.h"
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace rdvtest {
namespace {

#ifdef _WIN32
// Code page 936 is Windows' GB2312.
std::string convert(UINT to, UINT from, const std::string& in) {
    std::wstring wide(in.size() + 1, L'\0');
    const int n = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), &wide[0],
                                      static_cast<int>(wide.size()));
    std::string out(in.size() * 4 + 8, '\0');
    const int m =
        WideCharToMultiByte(to, 0, wide.data(), n, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<size_t>(m > 0 ? m : 0));
    return out;
}
#else
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
#endif

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

// Paths in the tests are UTF-8; Windows names files in UTF-16.
int makeFirmware(const std::string& out, const std::string& family, const std::string& version) {
#ifdef RUDAVADO_PREMADE_FIRMWARE
    // Made by the build (tests/rudavado/CMakeLists.txt), under the same names.
    namespace fs = std::filesystem;
    const fs::path premade(RUDAVADO_PREMADE_FIRMWARE);
    std::error_code error;
    if (family.empty()) {
        for (const fs::directory_entry& entry : fs::directory_iterator(premade / "set", error))
            fs::copy_file(entry.path(), fs::u8path(out) / entry.path().filename(), error);
    } else {
        fs::copy_file(premade / (family + "_" + version + ".bin"), fs::u8path(out), error);
    }
    return error ? 1 : 0;
#else
    const std::string tool = "/usr/bin/python3 '" + sourceDir() + "/tools/make_firmware.py' ";
    if (family.empty()) return run(tool + "'" + out + "' > /dev/null");
    return run(tool + "--family " + family + " --version " + version + " '" + out + "'");
#endif
}

std::string readAll(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& path, const std::string& content) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out << content;
}

#ifdef _WIN32
std::string toGb2312(const std::string& utf8) { return convert(936, CP_UTF8, utf8); }
std::string fromGb2312(const std::string& gb) { return convert(CP_UTF8, 936, gb); }
#else
std::string toGb2312(const std::string& utf8) { return convert("GB2312", "UTF-8", utf8); }
std::string fromGb2312(const std::string& gb) { return convert("UTF-8", "GB2312", gb); }
#endif

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
    dir_ = MakeUniqueTempDir("rudavado_test_");
    ASSERT_FALSE(dir_.empty());
}

void NetworkTest::TearDown() {
    KpLPRClient_Cleanup();
    RuDAVADO_ClearFaults();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
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
