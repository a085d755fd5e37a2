// WS-Discovery (2005/04) messages: the Probe for network video transmitters, and the
// ProbeMatches, Hello and Bye that devices send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rudavado {
namespace onvif {

constexpr const char* kDiscoveryGroup = "239.255.255.250";
constexpr int kDiscoveryPort = 3702;

// A random "urn:uuid:..." for a MessageID.
std::string newMessageId();
std::string probeMessage(const std::string& message_id);

// One device as a discovery message describes it.
struct Announcement {
    enum Kind { ProbeMatch, Hello, Bye } kind = ProbeMatch;
    std::string endpoint;  // EndpointReference/Address
    std::string xaddr;     // the first http:// XAddr with an IPv4 host
    std::string ip;
    int port = 80;
    std::string name, hardware, mac;  // from the onvif:// scopes, URL-decoded
    uint32_t serial_high = 0, serial_low = 0;
    std::string relates_to;
};

// Parses one datagram; false (and nothing added) for anything that is not a well-formed
// discovery message.
bool parseDiscovery(const char* data, size_t size, std::vector<Announcement>& out);

// The serial words the library reports for a device: the first and the last 32 bits of a UUID
// endpoint reference (devices made for this library put their serial words there), else a hash
// of the reference, so that the same device always gets the same words.
void serialWords(const std::string& endpoint, uint32_t& high, uint32_t& low);

// Splits "http://host[:port]/path" into an IPv4 host and port; false for other forms.
bool splitHttpUrl(const std::string& url, std::string& host, int& port, std::string& rest);

}  // namespace onvif
}  // namespace rudavado
