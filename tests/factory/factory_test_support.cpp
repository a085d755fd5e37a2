#include "factory_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace factory_test {

LogCapture::LogCapture() { kpes::add_log_sink(this, kpes::LS_VERBOSE); }

LogCapture::~LogCapture() { kpes::remove_log_sink(this); }

long LogCapture::write(const char* data, size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    pending_.append(data, size);
    size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
        lines_.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
    return static_cast<long>(size);
}

std::vector<std::string> LogCapture::lines() {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

std::vector<std::string> LogCapture::matching(const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& line : lines()) {
        if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
}

factory::dealmodule::ProgressCallback ReportLog::callback() {
    return [this](bool ok, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        reports_.emplace_back(ok, text);
        bool final_report = !ok || text == "完成";
        if (final_report) ++finals_;
        changed_.notify_all();
        return !final_report;
    };
}

bool ReportLog::waitFinal(int count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return finals_ >= count; });
}

std::vector<Report> ReportLog::reports() {
    std::lock_guard<std::mutex> guard(lock_);
    return reports_;
}

int ReportLog::finals() {
    std::lock_guard<std::mutex> guard(lock_);
    return finals_;
}

factory::dealmodule::UpgradeProgressCallback UpgradeLog::callback() {
    return [this](int state, int percent) {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.emplace_back(state, percent);
    };
}

std::vector<std::pair<int, int>> UpgradeLog::calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

void LoadDefaultNetwork() {
    RuDAVADO_ClearFaults();
    ASSERT_EQ(0, RuDAVADO_LoadDefaultScenario()) << RuDAVADO_LastLoadError();
}

std::string CameraIp(int index) {
    return "10.0." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

void LoadNetwork(int count, const std::string& model) {
    std::string json = "{\"cameras\": [";
    for (int i = 0; i < count; ++i) {
        if (i > 0) json += ",";
        json += "{\"model\": \"" + model + "\", \"ip\": \"" + CameraIp(i) + "\", \"netmask\": \"255.255.0.0\"" +
                ", \"gateway\": \"10.0.255.254\", \"serial_low\": " + std::to_string(50000 + i) + "}";
    }
    json += "]}";
    RuDAVADO_ClearFaults();
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText(json.c_str())) << RuDAVADO_LastLoadError();
}

RuDAVADO_CameraState CameraState(int camera) {
    RuDAVADO_CameraState state;
    std::memset(&state, 0, sizeof(state));
    EXPECT_EQ(0, RuDAVADO_GetCameraState(camera, &state));
    return state;
}

int CameraNumber(const std::string& ip) { return RuDAVADO_FindCamera(ip.c_str()); }

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kp_factory_XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    dir_ = made ? made : "";
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::path(const std::string& name) const { return dir_ + "/" + name; }

std::string TempDir::write(const std::string& name, const std::string& content) const {
    std::string file = path(name);
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
}

namespace {

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutLe(std::string& out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string FirmwarePackage(const std::string& family, const std::string& version, bool damaged) {
    std::string image(4096, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 3);
    // Header: magic, format 1, header size 64, family (24), version (16), image size, image
    // CRC, header CRC of bytes 0-55, reserved.
    std::string header(64, '\0');
    std::memcpy(&header[0], "KPFW", 4);
    PutLe(header, 4, 1, 2);
    PutLe(header, 6, 64, 2);
    std::memcpy(&header[8], family.data(), family.size());
    std::memcpy(&header[32], version.data(), version.size());
    PutLe(header, 48, static_cast<uint32_t>(image.size()), 4);
    PutLe(header, 52, Crc32(image), 4);
    PutLe(header, 56, Crc32(header.substr(0, 56)), 4);
    if (damaged) image[100] ^= 0x5A;
    return header + image;
}

std::string PngImage() {
    static const unsigned char png[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4,
        0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0,
        0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99, 0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45,
        0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(png), sizeof(png));
}

}  // namespace factory_test
