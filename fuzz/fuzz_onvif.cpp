// libFuzzer target: what a device or anybody on the network sends the ONVIF backend must never
// crash, leak or hang it. The first byte picks the reader: even bytes a SOAP reply (with an HTTP
// status from the next bits), odd bytes a WS-Discovery datagram. A reply that parses is read the
// way the backend reads every reply it knows.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "onvif/device_client.h"
#include "onvif/discovery_message.h"
#include "onvif/soap.h"
#include "util.h"

using namespace rudavado::onvif;

namespace {

void readReply(pugi::xml_node body) {
    long long seconds = 0;
    pugi::xml_node sdt = path(body, {"GetSystemDateAndTimeResponse", "SystemDateAndTime"});
    readDateTime(child(sdt, "UTCDateTime"), seconds);
    readDateTime(child(sdt, "LocalDateTime"), seconds);
    pugi::xml_node upgrade = child(body, "StartFirmwareUpgradeResponse");
    if (parseDuration(text(upgrade, {"UploadDelay"})) < -1) std::abort();
    parseDuration(text(upgrade, {"ExpectedDownTime"}));
    std::string host, rest;
    int port = 0;
    if (splitHttpUrl(text(upgrade, {"UploadUri"}), host, port, rest) && (port <= 0 || port > 65535))
        std::abort();
    pugi::xml_node nic = path(body, {"GetNetworkInterfacesResponse", "NetworkInterfaces"});
    text(nic, {"IPv4", "Config", "Manual", "Address"});
    prefixOfMask(text(nic, {"IPv4", "Config", "Manual", "PrefixLength"}));
    for (pugi::xml_node u = child(body, "GetUsersResponse").first_child(); u; u = u.next_sibling()) {
        text(u, {"Username"});
    }
    text(body, {"GetStreamUriResponse", "MediaUri", "Uri"});
    text(body, {"GetCapabilitiesResponse", "Capabilities", "Media", "XAddr"});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        static const long kStatus[4] = {200, 400, 401, 500};
        SoapReply reply;
        reply.parse(kStatus[(data[0] >> 1) & 3], text);
        if ((reply.error() == 0) != static_cast<bool>(reply.body())) std::abort();
        if (reply.error() == 0) readReply(reply.body());
        return 0;
    }
    std::vector<Announcement> found;
    const bool ok = parseDiscovery(text.data(), text.size(), found);
    if (ok == found.empty()) std::abort();
    for (const Announcement& a : found) {
        if (a.kind != Announcement::Bye && (!rudavado::isIpv4(a.ip) || a.port <= 0 || a.port > 65535))
            std::abort();
    }
    return 0;
}
