#include "camera.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "RuDAVADO.h"
#include "util.h"

namespace rudavado {
namespace {

GroupDef imageGroup() {
    return {"图像参数",
            {{"亮度", ValueType::Integer, 0, 100, "50"},
             {"对比度", ValueType::Integer, 0, 100, "50"},
             {"饱和度", ValueType::Integer, 0, 100, "50"},
             {"曝光模式", ValueType::Integer, 0, 2, "0"},
             {"宽动态", ValueType::Switch, 0, 1, "0"}}};
}

GroupDef systemGroup() {
    return {"系统参数",
            {{"设备名称", ValueType::Text, 0, 63, "IPC"},
             {"NTP服务器", ValueType::Text, 0, 63, "pool.ntp.org"},
             {"时区", ValueType::Integer, -12, 14, "8"},
             {"日志级别", ValueType::Integer, 0, 5, "2"}}};
}

std::vector<GroupDef> plateGroups(bool older) {
    std::vector<GroupDef> groups;
    groups.push_back({"识别参数",
                      {{"识别区域", ValueType::Text, 0, 63, "0,0,1920,1080"},
                       {"最小车牌宽度", ValueType::Integer, 60, 400, "80"},
                       {"最大车牌宽度", ValueType::Integer, 100, 600, "300"},
                       {"省份优先", ValueType::Text, 0, 15, "京"},
                       {"无牌车检测", ValueType::Switch, 0, 1, "1"}}});
    groups.push_back(imageGroup());
    GroupDef output{"输出参数",
                    {{"道闸控制", ValueType::Switch, 0, 1, "1"},
                     {"白名单开闸", ValueType::Switch, 0, 1, "0"},
                     {"继电器延时", ValueType::Integer, 100, 10000, "500"}}};
    if (!older) output.items.push_back({"推送地址", ValueType::Text, 0, 63, ""});
    groups.push_back(output);
    groups.push_back(systemGroup());
    return groups;
}

std::vector<GroupDef> faceGroups() {
    std::vector<GroupDef> groups;
    groups.push_back({"人脸识别",
                      {{"识别阈值", ValueType::Integer, 50, 100, "80"},
                       {"活体检测", ValueType::Switch, 0, 1, "1"},
                       {"最小人脸尺寸", ValueType::Integer, 40, 400, "80"},
                       {"识别间隔", ValueType::Integer, 0, 60000, "1000"}}});
    groups.push_back(imageGroup());
    groups.push_back({"门禁参数",
                      {{"开门延时", ValueType::Integer, 1, 60, "5"},
                       {"陌生人报警", ValueType::Switch, 0, 1, "0"},
                       {"韦根格式", ValueType::Integer, 26, 34, "26"}}});
    groups.push_back({"显示参数",
                      {{"欢迎语", ValueType::Text, 0, 63, "欢迎光临"},
                       {"屏幕亮度", ValueType::Integer, 0, 100, "80"},
                       {"显示姓名", ValueType::Switch, 0, 1, "1"}}});
    groups.push_back(systemGroup());
    return groups;
}

}  // namespace

const std::vector<Family>& families() {
    static const std::vector<Family> list = {
        {"KP-LPR-V3", KPLPRC_DEVICE_PLATE, true, 3, "H3.2", "S1.4", 0x21, "3.2.1.15", plateGroups(false)},
        {"KP-LPR-V1", KPLPRC_DEVICE_PLATE, false, 0, "H1.0", "S1.0", 0x10, "1.8.4.2", plateGroups(true)},
        {"KP-FACE-F2", KPLPRC_DEVICE_FACE, true, 8, "H2.1", "S2.0", 0x32, "2.1.0.7", faceGroups()},
    };
    return list;
}

const Family* findFamily(const std::string& name) {
    for (const Family& f : families()) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

void Camera::restoreDefaultValues() {
    values.clear();
    for (const GroupDef& g : groups()) {
        std::vector<std::string> row;
        for (const ParamDef& p : g.items) row.emplace_back(p.default_value);
        values.push_back(std::move(row));
    }
}

bool Camera::findParam(const std::string& group, const std::string& item, size_t& g, size_t& i) const {
    const auto& defs = groups();
    for (g = 0; g < defs.size(); ++g) {
        if (group != defs[g].name) continue;
        for (i = 0; i < defs[g].items.size(); ++i) {
            if (item == defs[g].items[i].name) return true;
        }
    }
    return false;
}

bool valueFits(const ParamDef& def, const std::string& value) {
    if (def.type == ValueType::Text) {
        if (value.size() > static_cast<size_t>(def.max)) return false;
        for (unsigned char c : value) {
            if (c < 0x20 || c == 0x7f) return false;
        }
        // Values travel in GB2312 files, so they must have a GB2312 form.
        std::string gb;
        return isUtf8(value) && utf8ToGb2312(value, gb);
    }
    if (value.empty() || value.size() > 11) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(value.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    return v >= def.min && v <= def.max;
}

long long hostUtcSeconds() { return static_cast<long long>(std::time(nullptr)); }

std::string formatDateTime(long long seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

void Camera::answerText(char* field, size_t size, const std::string& text) const {
    if (!fill_texts) return copyText(field, size, text);
    if (size == 0) return;
    // The text, then dots up to the field's last byte.
    std::memset(field, '.', size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

}  // namespace rudavado
