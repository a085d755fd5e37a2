#include "devicedatamanager.h"

#include <rttr/registration>

namespace factory {

const std::string& devicedatamanager::get_ip() const { return ip_; }
void devicedatamanager::set_ip(const std::string& ip) { ip_ = ip; }
unsigned int devicedatamanager::get_port() const { return port_; }
void devicedatamanager::set_port(unsigned int port) { port_ = port; }
const std::string& devicedatamanager::get_user_name() const { return user_name_; }
void devicedatamanager::set_user_name(const std::string& user_name) { user_name_ = user_name; }
const std::string& devicedatamanager::get_password() const { return password_; }
void devicedatamanager::set_password(const std::string& password) { password_ = password; }

}  // namespace factory

RTTR_REGISTRATION {
    rttr::registration::class_<factory::devicedatamanager>("devicedatamanager")
        .constructor<>()
        .property("ip", &factory::devicedatamanager::get_ip, &factory::devicedatamanager::set_ip)
        .property("port", &factory::devicedatamanager::get_port, &factory::devicedatamanager::set_port)
        .property("user_name", &factory::devicedatamanager::get_user_name,
                  &factory::devicedatamanager::set_user_name)
        .property("password", &factory::devicedatamanager::get_password,
                  &factory::devicedatamanager::set_password);
}
