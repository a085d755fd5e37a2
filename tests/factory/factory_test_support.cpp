#include "factory_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "../unique_temp_dir.h"

#ifdef _WIN32
#include <process.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace factory_test {

long LogCapture::write(const char* data, size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    std::string line(data, size);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines_.push_back(line);
    return static_cast<long>(size);
}

std::vector<std::string> LogCapture::lines() {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

std::vector<std::string> LogCapture::matching(const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& line : lines()) {
        size_t at = line.find(text);
        if (at == std::string::npos) continue;
        size_t position_end = line.find("): ");
        bool positioned = !line.empty() && line[0] == '(' && position_end < at;
        found.push_back(positioned ? line.substr(position_end + 3) : line);
    }
    return found;
}

factory::dealmodule::ProgressCallback ReportLog::callback() {
    return [this](bool ok, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        reports_.emplace_back(ok, text);
        bool final_report = !ok || text == "完成";
        finals_ += final_report ? 1 : 0;
        changed_.notify_all();
        return !final_report;
    };
}

bool ReportLog::waitFinal(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return finals_ > 0; });
}

std::vector<Report> ReportLog::reports() {
    std::lock_guard<std::mutex> guard(lock_);
    return reports_;
}

int ReportLog::finals() {
    std::lock_guard<std::mutex> guard(lock_);
    return finals_;
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
        json += std::string(i > 0 ? "," : "") + "{\"model\": \"" + model + "\", \"ip\": \"" + CameraIp(i) +
                "\", \"netmask\": \"255.255.0.0\", \"gateway\": \"10.0.255.254\", \"serial_low\": " +
                std::to_string(50000 + i) + "}";
    }
    RuDAVADO_ClearFaults();
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText((json + "]}").c_str())) << RuDAVADO_LastLoadError();
}

RuDAVADO_CameraState CameraState(int camera) {
    RuDAVADO_CameraState state;
    std::memset(&state, 0, sizeof(state));
    EXPECT_EQ(0, RuDAVADO_GetCameraState(camera, &state));
    return state;
}

TempDir::TempDir() {
    const std::string made = MakeUniqueTempDir("kp_factory_");
    dir_ = made.empty() ? "." : made;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (dir_ != ".") std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
    return path(name);
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
    // Header: "KPFW", format 1, header size 64, family[24], version[16], image size, image
    // CRC-32, CRC-32 of header bytes 0-55, reserved.
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
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
        0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
        0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(png), sizeof(png));
}

}  // namespace factory_test
