// SOAP 1.2 messages of the ONVIF device and media services: building requests with a
// WS-Security UsernameToken, and reading replies into the library's error codes. Replies are
// matched by local element names, since devices choose their own namespace prefixes.
#pragma once

#include <initializer_list>
#include <pugixml.hpp>
#include <string>

namespace rudavado {
namespace onvif {

struct Credentials {
    std::string user;
    std::string password;
};

std::string xmlEscape(const std::string& text);
std::string base64(const std::string& raw);
// "YYYY-MM-DDThh:mm:ssZ" of seconds since 1970 (UTC).
std::string formatUtc(long long seconds);

// WS-Security PasswordDigest: Base64(SHA-1(nonce + created + password)), nonce in raw bytes.
std::string passwordDigest(const std::string& nonce, const std::string& created, const std::string& password);
// A Security header with a UsernameToken dated `device_utc` (the device's clock, so that a device
// whose clock is off still accepts it); the nonce is random unless given.
std::string securityHeader(const Credentials& credentials, long long device_utc,
                           const std::string& nonce = "");

// The whole envelope around `body`, with the ONVIF namespaces declared on it.
std::string envelope(const std::string& body, const std::string& header = "");

// The first child element of `node` with that local name (any prefix).
pugi::xml_node child(pugi::xml_node node, const char* local_name);
// Follows local names from `node`; an empty node when a step is missing.
pugi::xml_node path(pugi::xml_node node, std::initializer_list<const char*> local_names);
std::string text(pugi::xml_node node, std::initializer_list<const char*> local_names);
const char* localName(const char* qualified);

// A reply to one request. error() is KPLPRC_ERR_NONE only for an HTTP success carrying a
// well-formed envelope without a fault.
class SoapReply {
public:
    void parse(long http_status, const std::string& data);
    int error() const { return error_; }
    pugi::xml_node body() const { return body_; }
    const std::string& faultSubcode() const { return fault_subcode_; }
    const std::string& faultReason() const { return fault_reason_; }

private:
    pugi::xml_document doc_;
    pugi::xml_node body_;
    int error_ = 0;
    std::string fault_subcode_, fault_reason_;
};

// The library's error code for a SOAP fault's innermost subcode (local name).
int faultError(const std::string& code, const std::string& subcode);

// Date and time from an ONVIF DateTime element (Date/Time children); false when incomplete or
// out of range.
bool readDateTime(pugi::xml_node date_time, long long& utc_seconds);

}  // namespace onvif
}  // namespace rudavado
