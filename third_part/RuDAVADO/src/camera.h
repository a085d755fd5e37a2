// One simulated camera: what a scenario describes plus the state it builds up while running.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace rudavado {

using Clock = std::chrono::steady_clock;

enum class ValueType { Integer = 0, Text = 1, Switch = 2 };

struct ParamDef {
    const char* name;  // UTF-8
    ValueType type;
    int min;
    int max;  // for texts: the longest value in bytes
    const char* default_value;
};

struct GroupDef {
    const char* name;  // UTF-8
    std::vector<ParamDef> items;
};

// A model family: cameras of one family share firmware packages and parameter files.
struct Family {
    const char* name;
    int device_type;  // KPLPRC_DEVICE_*
    bool extended_discovery;
    int hardware_index;
    const char* board_version;
    const char* sensor_board_version;
    unsigned char sensor_code;
    const char* factory_firmware;
    std::vector<GroupDef> groups;
};

const std::vector<Family>& families();
const Family* findFamily(const std::string& name);

struct Upgrade {
    int state = 0;  // KP_UPDATE_STATE_*
    Clock::time_point start;
    double duration_ms = 0;
    bool damaged = false;
    std::string version;
    int cancelled_progress = 0;
    int drop_at = -1;   // percentage at which the link drops (RuDAVADO_DropLinkDuringUpgrade), -1 none
    int stall_at = -1;  // percentage at which the write hangs (RuDAVADO_StallUpgrade), -1 none
};

struct Camera {
    int index = 0;
    const Family* family = nullptr;

    std::string name;
    std::string ip, netmask, gateway, dns, mac;
    int port = 80;
    std::string user, password;
    std::string factory_ip, factory_netmask, factory_gateway;
    int factory_port = 80;
    std::string factory_user, factory_password;

    uint32_t serial_high = 0;
    uint32_t serial_low = 0;
    int lens_code = 0;
    int max_sessions = 8;
    bool extended_discovery = true;
    // Answers discovery and nothing else, as a reply made up by another host: every connect
    // waits out the time-out.
    bool silent = false;
    // Fills every fixed-size text it answers to the last byte, leaving no terminating NUL.
    bool fill_texts = false;

    std::string firmware;
    std::string pending_firmware;

    long long clock_offset_s = 0;  // camera clock = host UTC seconds + offset, read as a UTC date
    std::string boot_time;

    bool powered = true;
    bool linked = true;
    bool booting = false;
    uint64_t epoch = 0;        // bumped by every change of reachability; re-login events compare it
    uint64_t restart_seq = 0;  // bumped by every restart and power loss; the end of a restart
                               // compares it, so that a cable pulled meanwhile does not lose it
    int boots = 0;
    bool stay_down = false;          // the next restart never ends (RuDAVADO_StayDownAfterRestart)
    int drop_at_next_upgrade = -1;   // handed to the next accepted upgrade's drop_at
    int stall_at_next_upgrade = -1;  // and its stall_at

    Upgrade upgrade;
    std::vector<std::vector<std::string>> values;  // [group][item], UTF-8

    int io[4] = {0, 0, 0, 0};
    long long logo_size = -1, background_size = -1, css_size = -1;
    int uploads = 0;
    long long frames_finished = 0;  // frames of plays that have ended

    bool reachable() const { return powered && linked && !booting; }
    // Copies an answer's text into a fixed-size field, filled to the end when fill_texts.
    void answerText(char* field, size_t size, const std::string& text) const;
    bool upgrading() const { return upgrade.state == 2; }
    const std::vector<GroupDef>& groups() const { return family->groups; }
    void restoreDefaultValues();
    // Indexes of a parameter by UTF-8 names; false when there is none.
    bool findParam(const std::string& group, const std::string& item, size_t& g, size_t& i) const;
};

// Checks a value against its definition (integer range, switch 0/1, text length and bytes).
bool valueFits(const ParamDef& def, const std::string& value);

// Camera clock helpers; dates are broken down as UTC so that no time zone interferes.
long long hostUtcSeconds();
std::string formatDateTime(long long seconds);

}  // namespace rudavado
