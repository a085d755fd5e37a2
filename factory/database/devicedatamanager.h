// The persisted device record: one row of the device-list workbook. Registered for reflection
// as "devicedatamanager" with the properties "ip", "port", "user_name", "password", in that
// order, which is also the order of the worksheet's columns.
#pragma once

#include <string>

namespace factory {

class devicedatamanager {
public:
    // Defined out of line: whoever uses the record links its reflection registration too.
    const std::string& get_ip() const;
    void set_ip(const std::string& ip);
    unsigned int get_port() const;
    void set_port(unsigned int port);
    const std::string& get_user_name() const;
    void set_user_name(const std::string& user_name);
    const std::string& get_password() const;
    void set_password(const std::string& password);

    bool operator==(const devicedatamanager& other) const {
        return ip_ == other.ip_ && port_ == other.port_ && user_name_ == other.user_name_ &&
               password_ == other.password_;
    }

private:
    std::string ip_;
    unsigned int port_ = 0;
    std::string user_name_;
    std::string password_;
};

}  // namespace factory
