#include "device_client.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "../util.h"
#include "RuDAVADO.h"
#include "discovery_message.h"

namespace rudavado {
namespace onvif {
namespace {

const char kDeviceNs[] = "http://www.onvif.org/ver10/device/wsdl/";
const char kMediaNs[] = "http://www.onvif.org/ver10/media/wsdl/";

std::string dateTimeXml(const char* element, long long seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[320];
    std::snprintf(
        text, sizeof text,
        "<tds:%s><tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second>"
        "</tt:Time><tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date>"
        "</tds:%s>",
        element, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, element);
    return text;
}

}  // namespace

long parseDuration(const std::string& text) {
    // PnDTnHnMnS, the parts the devices use; fractions of seconds are dropped.
    if (text.size() < 3 || text[0] != 'P') return -1;
    long total = 0, number = -1;
    bool in_time = false;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (number > 100000000) return -1;
            number = (number < 0 ? 0 : number * 10) + (c - '0');
        } else if (c == '.') {
            while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') ++i;
        } else if (c == 'T' && !in_time && number < 0) {
            in_time = true;
        } else {
            if (number < 0) return -1;
            long unit = 0;
            if (c == 'D' && !in_time) unit = 86400;
            if (c == 'H' && in_time) unit = 3600;
            if (c == 'M' && in_time) unit = 60;
            if (c == 'S' && in_time) unit = 1;
            if (unit == 0) return -1;
            total += number * unit;
            number = -1;
        }
    }
    return number < 0 ? total : -1;
}

int prefixOfMask(const std::string& mask) {
    uint32_t value = 0;
    if (!isIpv4(mask, &value)) return -1;
    int prefix = 0;
    while (prefix < 32 && (value & (0x80000000u >> prefix)) != 0) ++prefix;
    const uint32_t expect = prefix == 0 ? 0 : ~0u << (32 - prefix);
    return value == expect ? prefix : -1;
}

std::string maskOfPrefix(int prefix) {
    if (prefix < 0 || prefix > 32) return "";
    const uint32_t v = prefix == 0 ? 0 : ~0u << (32 - prefix);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255);
    return text;
}

DeviceClient::DeviceClient(std::string device_url, Credentials credentials, HttpTimeouts timeouts)
    : device_url_(std::move(device_url)), credentials_(std::move(credentials)), timeouts_(timeouts) {}

int DeviceClient::call(const std::string& url, const std::string& action, const std::string& body,
                       SoapReply& reply, bool with_login) {
    int code = callOnce(url, action, body, reply, with_login);
    if (code != KPLPRC_ERR_AUTH || !with_login || credentials_.user.empty()) return code;
    // Somebody may have set the device's clock since we read it: a token dated by the old offset
    // is refused. Read the clock again and retry once when it moved.
    const long long offset = clock_offset_s_;
    if (readClock() != KPLPRC_ERR_NONE || std::llabs(clock_offset_s_ - offset) < 2) return code;
    return callOnce(url, action, body, reply, with_login);
}

int DeviceClient::callOnce(const std::string& url, const std::string& action, const std::string& body,
                           SoapReply& reply, bool with_login) {
    std::string header;
    if (with_login && !credentials_.user.empty()) {
        header = securityHeader(credentials_, static_cast<long long>(std::time(nullptr)) + clock_offset_s_);
        if (header.empty()) return KPLPRC_ERR_DEVICE;
    }
    HttpResult r = soapPost(url, action, envelope(body, header), with_login ? &credentials_ : nullptr,
                            timeouts_, &connection_);
    if (r.error != KPLPRC_ERR_NONE) return r.error;
    reply.parse(r.status, r.body);
    return reply.error();
}

int DeviceClient::device(const char* operation, const std::string& body, SoapReply& reply, bool with_login) {
    return call(device_url_, std::string(kDeviceNs) + operation, body, reply, with_login);
}

int DeviceClient::readClock(long long* utc, long long* local) {
    SoapReply reply;
    int code = device("GetSystemDateAndTime", "<tds:GetSystemDateAndTime/>", reply, false);
    if (code != KPLPRC_ERR_NONE) return code;
    pugi::xml_node sdt = path(reply.body(), {"GetSystemDateAndTimeResponse", "SystemDateAndTime"});
    long long device_utc = 0;
    if (!readDateTime(child(sdt, "UTCDateTime"), device_utc)) return KPLPRC_ERR_DEVICE;
    clock_offset_s_ = device_utc - static_cast<long long>(std::time(nullptr));
    if (utc != nullptr) *utc = device_utc;
    if (local != nullptr && !readDateTime(child(sdt, "LocalDateTime"), *local)) *local = device_utc;
    return KPLPRC_ERR_NONE;
}

int DeviceClient::getDeviceInformation(DeviceInformation& info) {
    SoapReply reply;
    int code = device("GetDeviceInformation", "<tds:GetDeviceInformation/>", reply);
    if (code != KPLPRC_ERR_NONE) return code;
    pugi::xml_node r = child(reply.body(), "GetDeviceInformationResponse");
    if (!r) return KPLPRC_ERR_DEVICE;
    info.manufacturer = text(r, {"Manufacturer"});
    info.model = text(r, {"Model"});
    info.firmware = text(r, {"FirmwareVersion"});
    info.serial = text(r, {"SerialNumber"});
    info.hardware = text(r, {"HardwareId"});
    return KPLPRC_ERR_NONE;
}

int DeviceClient::findServices() {
    SoapReply reply;
    int code = device("GetCapabilities",
                      "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", reply);
    if (code == KPLPRC_ERR_NONE) {
        media_url_ = text(reply.body(), {"GetCapabilitiesResponse", "Capabilities", "Media", "XAddr"});
        return KPLPRC_ERR_NONE;
    }
    if (code != KPLPRC_ERR_NOT_SUPPORTED) return code;
    code = device("GetServices",
                  "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>",
                  reply);
    if (code != KPLPRC_ERR_NONE) return code;
    for (pugi::xml_node s = child(reply.body(), "GetServicesResponse").first_child(); s;
         s = s.next_sibling()) {
        if (text(s, {"Namespace"}) == "http://www.onvif.org/ver10/media/wsdl")
            media_url_ = text(s, {"XAddr"});
    }
    return KPLPRC_ERR_NONE;
}

int DeviceClient::getEndpointReference(std::string& endpoint) {
    SoapReply reply;
    int code = device("GetEndpointReference", "<tds:GetEndpointReference/>", reply);
    if (code != KPLPRC_ERR_NONE) return code;
    endpoint = text(reply.body(), {"GetEndpointReferenceResponse", "GUID"});
    return endpoint.empty() ? KPLPRC_ERR_DEVICE : KPLPRC_ERR_NONE;
}

int DeviceClient::setDateTime(long long utc_seconds, const std::string& posix_tz) {
    SoapReply reply;
    return device("SetSystemDateAndTime",
                  "<tds:SetSystemDateAndTime><tds:DateTimeType>Manual</tds:DateTimeType>"
                  "<tds:DaylightSavings>false</tds:DaylightSavings><tds:TimeZone><tt:TZ>" +
                      xmlEscape(posix_tz) + "</tt:TZ></tds:TimeZone>" +
                      dateTimeXml("UTCDateTime", utc_seconds) + "</tds:SetSystemDateAndTime>",
                  reply);
}

int DeviceClient::reboot() {
    SoapReply reply;
    return device("SystemReboot", "<tds:SystemReboot/>", reply);
}

int DeviceClient::factoryDefault(bool hard) {
    SoapReply reply;
    return device("SetSystemFactoryDefault",
                  std::string("<tds:SetSystemFactoryDefault><tds:FactoryDefault>") +
                      (hard ? "Hard" : "Soft") + "</tds:FactoryDefault></tds:SetSystemFactoryDefault>",
                  reply);
}

int DeviceClient::changePassword(const std::string& password) {
    SoapReply reply;
    int code = device("GetUsers", "<tds:GetUsers/>", reply);
    if (code != KPLPRC_ERR_NONE) return code;
    std::string level;
    for (pugi::xml_node u = child(reply.body(), "GetUsersResponse").first_child(); u; u = u.next_sibling()) {
        if (text(u, {"Username"}) == credentials_.user) level = text(u, {"UserLevel"});
    }
    if (level.empty()) return KPLPRC_ERR_DEVICE;  // the device does not list the user it let in
    code = device("SetUser",
                  "<tds:SetUser><tds:User><tt:Username>" + xmlEscape(credentials_.user) +
                      "</tt:Username><tt:Password>" + xmlEscape(password) + "</tt:Password><tt:UserLevel>" +
                      xmlEscape(level) + "</tt:UserLevel></tds:User></tds:SetUser>",
                  reply);
    if (code == KPLPRC_ERR_NONE) credentials_.password = password;
    return code;
}

int DeviceClient::getNetwork(NetworkSettings& net, bool full) {
    SoapReply reply;
    int code = device("GetNetworkInterfaces", "<tds:GetNetworkInterfaces/>", reply);
    if (code != KPLPRC_ERR_NONE) return code;
    pugi::xml_node nic = path(reply.body(), {"GetNetworkInterfacesResponse", "NetworkInterfaces"});
    if (!nic) return KPLPRC_ERR_DEVICE;
    net.token = nic.attribute("token").value();
    net.mac = text(nic, {"Info", "HwAddress"});
    pugi::xml_node config = path(nic, {"IPv4", "Config"});
    pugi::xml_node address = child(config, "Manual");
    if (!address || text(config, {"DHCP"}) == "true") address = child(config, "FromDHCP");
    if (!address) address = child(config, "Manual");
    net.ip = text(address, {"Address"});
    const std::string prefix = text(address, {"PrefixLength"});
    net.prefix = prefix.empty() ? 24 : std::atoi(prefix.c_str());
    if (!full) return KPLPRC_ERR_NONE;
    if (device("GetNetworkDefaultGateway", "<tds:GetNetworkDefaultGateway/>", reply) == KPLPRC_ERR_NONE) {
        net.gateway =
            text(reply.body(), {"GetNetworkDefaultGatewayResponse", "NetworkGateway", "IPv4Address"});
    }
    if (device("GetDNS", "<tds:GetDNS/>", reply) == KPLPRC_ERR_NONE) {
        pugi::xml_node dns = path(reply.body(), {"GetDNSResponse", "DNSInformation"});
        net.dns = text(dns, {"DNSManual", "IPv4Address"});
        if (net.dns.empty()) net.dns = text(dns, {"DNSFromDHCP", "IPv4Address"});
    }
    return KPLPRC_ERR_NONE;
}

int DeviceClient::setNetwork(const NetworkSettings& net, bool& reboot_needed) {
    SoapReply reply;
    int code = device("SetNetworkDefaultGateway",
                      "<tds:SetNetworkDefaultGateway><tds:IPv4Address>" + xmlEscape(net.gateway) +
                          "</tds:IPv4Address></tds:SetNetworkDefaultGateway>",
                      reply);
    if (code != KPLPRC_ERR_NONE) return code;
    code =
        device("SetNetworkInterfaces",
               "<tds:SetNetworkInterfaces><tds:InterfaceToken>" + xmlEscape(net.token) +
                   "</tds:InterfaceToken><tds:NetworkInterface><tt:Enabled>true</tt:Enabled><tt:IPv4>"
                   "<tt:Enabled>true</tt:Enabled><tt:Manual><tt:Address>" +
                   xmlEscape(net.ip) + "</tt:Address><tt:PrefixLength>" + std::to_string(net.prefix) +
                   "</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:IPv4></tds:NetworkInterface>"
                   "</tds:SetNetworkInterfaces>",
               reply);
    if (code != KPLPRC_ERR_NONE) return code;
    reboot_needed = text(reply.body(), {"SetNetworkInterfacesResponse", "RebootNeeded"}) == "true";
    return KPLPRC_ERR_NONE;
}

int DeviceClient::startFirmwareUpgrade(FirmwareUpload& upload) {
    SoapReply reply;
    int code = device("StartFirmwareUpgrade", "<tds:StartFirmwareUpgrade/>", reply);
    if (code != KPLPRC_ERR_NONE) return code;
    pugi::xml_node r = child(reply.body(), "StartFirmwareUpgradeResponse");
    upload.uri = text(r, {"UploadUri"});
    upload.delay_s = std::max(0L, parseDuration(text(r, {"UploadDelay"})));
    upload.down_s = std::max(0L, parseDuration(text(r, {"ExpectedDownTime"})));
    std::string host, rest;
    int port = 0;
    // The upload goes only to the device itself over HTTP.
    if (!splitHttpUrl(upload.uri, host, port, rest)) return KPLPRC_ERR_DEVICE;
    return KPLPRC_ERR_NONE;
}

int DeviceClient::upgradeSystemFirmware(const std::string& package, const std::function<bool(int)>& progress,
                                        bool& cancelled) {
    static const char kBoundary[] = "kp-firmware-part-7d1c";
    const std::string header =
        securityHeader(credentials_, static_cast<long long>(std::time(nullptr)) + clock_offset_s_);
    const std::string soap = envelope(
        "<tds:UpgradeSystemFirmware><tds:Firmware><xop:Include "
        "xmlns:xop=\"http://www.w3.org/2004/08/xop/include\" "
        "href=\"cid:firmware@kp\"/></tds:Firmware></tds:UpgradeSystemFirmware>",
        header);
    std::string body =
        std::string("--") + kBoundary +
        "\r\nContent-Type: application/xop+xml; charset=UTF-8; type=\"application/soap+xml\"\r\n"
        "Content-ID: <root@kp>\r\n\r\n" +
        soap + "\r\n--" + kBoundary +
        "\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n"
        "Content-ID: <firmware@kp>\r\n\r\n";
    body += package;
    body += std::string("\r\n--") + kBoundary + "--\r\n";
    const std::string type = std::string("multipart/related; type=\"application/xop+xml\"; boundary=\"") +
                             kBoundary + "\"; start=\"<root@kp>\"; start-info=\"application/soap+xml\"";
    UploadResult r =
        httpUpload(device_url_, type, body, &credentials_, timeouts_.connect_ms, 30000, progress);
    cancelled = r.cancelled;
    if (r.cancelled) return KPLPRC_ERR_NONE;
    if (r.error != KPLPRC_ERR_NONE) return r.error;
    SoapReply reply;
    reply.parse(r.status, r.body);
    return reply.error();
}

int DeviceClient::getStreamUri(std::string& uri) {
    if (media_url_.empty()) {
        int code = findServices();
        if (code != KPLPRC_ERR_NONE) return code;
        if (media_url_.empty()) return KPLPRC_ERR_NOT_SUPPORTED;
    }
    SoapReply reply;
    int code = call(media_url_, std::string(kMediaNs) + "GetProfiles", "<trt:GetProfiles/>", reply);
    if (code != KPLPRC_ERR_NONE) return code;
    pugi::xml_node profile = path(reply.body(), {"GetProfilesResponse", "Profiles"});
    const std::string token = profile.attribute("token").value();
    if (token.empty()) return KPLPRC_ERR_NOT_SUPPORTED;
    code = call(media_url_, std::string(kMediaNs) + "GetStreamUri",
                "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
                "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup><trt:ProfileToken>" +
                    xmlEscape(token) + "</trt:ProfileToken></trt:GetStreamUri>",
                reply);
    if (code != KPLPRC_ERR_NONE) return code;
    uri = text(reply.body(), {"GetStreamUriResponse", "MediaUri", "Uri"});
    return uri.compare(0, 7, "rtsp://") == 0 ? KPLPRC_ERR_NONE : KPLPRC_ERR_DEVICE;
}

}  // namespace onvif
}  // namespace rudavado
