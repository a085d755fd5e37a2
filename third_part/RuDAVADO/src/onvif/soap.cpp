#include "soap.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "../util.h"
#include "RuDAVADO.h"

namespace rudavado {
namespace onvif {

std::string xmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string base64(const std::string& raw) {
    std::string out(4 * ((raw.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                        reinterpret_cast<const unsigned char*>(raw.data()), static_cast<int>(raw.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string formatUtc(long long seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string passwordDigest(const std::string& nonce, const std::string& created,
                           const std::string& password) {
    const std::string all = nonce + created + password;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(all.data()), all.size(), digest);
    return base64(std::string(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string securityHeader(const Credentials& credentials, long long device_utc, const std::string& nonce) {
    std::string raw = nonce;
    if (raw.empty()) {
        unsigned char bytes[16];
        if (RAND_bytes(bytes, sizeof bytes) != 1) return "";
        raw.assign(reinterpret_cast<const char*>(bytes), sizeof bytes);
    }
    const std::string created = formatUtc(device_utc);
    return "<wsse:Security s:mustUnderstand=\"1\" "
           "xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd\" "
           "xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\">"
           "<wsse:UsernameToken><wsse:Username>" +
           xmlEscape(credentials.user) +
           "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
           passwordDigest(raw, created, credentials.password) +
           "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
           base64(raw) + "</wsse:Nonce><wsu:Created>" + created +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

std::string envelope(const std::string& body, const std::string& header) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
           "<s:Header>" +
           header + "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
}

const char* localName(const char* qualified) {
    const char* colon = std::strrchr(qualified, ':');
    return colon != nullptr ? colon + 1 : qualified;
}

pugi::xml_node child(pugi::xml_node node, const char* local_name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && std::strcmp(localName(c.name()), local_name) == 0) return c;
    }
    return pugi::xml_node();
}

pugi::xml_node path(pugi::xml_node node, std::initializer_list<const char*> local_names) {
    for (const char* name : local_names) {
        if (!node) break;
        node = child(node, name);
    }
    return node;
}

std::string text(pugi::xml_node node, std::initializer_list<const char*> local_names) {
    pugi::xml_node n = path(node, local_names);
    std::string value = n.child_value();
    const size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

int faultError(const std::string& code, const std::string& subcode) {
    static const struct {
        const char* subcode;
        int error;
    } kMap[] = {
        {"NotAuthorized", KPLPRC_ERR_AUTH},
        {"FailedAuthentication", KPLPRC_ERR_AUTH},
        {"InvalidSecurity", KPLPRC_ERR_AUTH},
        {"InvalidSecurityToken", KPLPRC_ERR_AUTH},
        {"ActionNotSupported", KPLPRC_ERR_NOT_SUPPORTED},
        {"NotSupported", KPLPRC_ERR_NOT_SUPPORTED},
        {"InvalidArgVal", KPLPRC_ERR_PARAMETER},
        {"InvalidArgs", KPLPRC_ERR_PARAMETER},
        {"InvalidIPv4Address", KPLPRC_ERR_PARAMETER},
        {"InvalidGatewayAddress", KPLPRC_ERR_PARAMETER},
        {"UsernameMissing", KPLPRC_ERR_PARAMETER},
        {"PasswordTooWeak", KPLPRC_ERR_PARAMETER},
        {"PasswordTooLong", KPLPRC_ERR_PARAMETER},
        {"TooManyUsers", KPLPRC_ERR_TOO_MANY_SESSIONS},
    };
    for (const auto& m : kMap) {
        if (subcode == m.subcode) return m.error;
    }
    // Sender faults that name no known subcode are still the request's fault, not the device's.
    (void)code;
    return KPLPRC_ERR_DEVICE;
}

void SoapReply::parse(long http_status, const std::string& data) {
    body_ = pugi::xml_node();
    fault_subcode_.clear();
    fault_reason_.clear();
    const pugi::xml_parse_result parsed = doc_.load_buffer(data.data(), data.size(), pugi::parse_default);
    pugi::xml_node env = doc_.document_element();
    pugi::xml_node body =
        parsed && std::strcmp(localName(env.name()), "Envelope") == 0 ? child(env, "Body") : pugi::xml_node();
    pugi::xml_node fault = child(body, "Fault");
    if (fault) {
        // The innermost subcode names the fault most precisely (SOAP 1.2 nests them).
        pugi::xml_node code = child(fault, "Code");
        std::string top = localName(text(code, {"Value"}).c_str());
        std::string sub;
        for (pugi::xml_node s = child(code, "Subcode"); s; s = child(s, "Subcode")) {
            sub = localName(text(s, {"Value"}).c_str());
        }
        if (!code) sub = localName(text(fault, {"faultcode"}).c_str());  // SOAP 1.1 devices
        fault_subcode_ = sub;
        fault_reason_ = text(fault, {"Reason", "Text"});
        if (fault_reason_.empty()) fault_reason_ = text(fault, {"faultstring"});
        error_ = http_status == 401 ? KPLPRC_ERR_AUTH : faultError(top, sub);
        return;
    }
    if (http_status == 401 || http_status == 403) {
        error_ = KPLPRC_ERR_AUTH;
    } else if (http_status < 200 || http_status >= 300 || !body) {
        error_ = KPLPRC_ERR_DEVICE;
    } else {
        body_ = body;
        error_ = KPLPRC_ERR_NONE;
    }
}

bool readDateTime(pugi::xml_node date_time, long long& utc_seconds) {
    pugi::xml_node date = child(date_time, "Date"), time = child(date_time, "Time");
    if (!date || !time) return false;
    auto number = [](pugi::xml_node n, const char* name, int low, int high, int& out) {
        const std::string t = text(n, {name});
        if (t.empty() || t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos) return false;
        out = std::atoi(t.c_str());
        return out >= low && out <= high;
    };
    std::tm tm{};
    int year = 0, month = 0;
    if (!number(date, "Year", 1970, 9999, year) || !number(date, "Month", 1, 12, month) ||
        !number(date, "Day", 1, 31, tm.tm_mday) || !number(time, "Hour", 0, 23, tm.tm_hour) ||
        !number(time, "Minute", 0, 59, tm.tm_min) || !number(time, "Second", 0, 60, tm.tm_sec)) {
        return false;
    }
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    utc_seconds = static_cast<long long>(timegm(&tm));
    return true;
}

}  // namespace onvif
}  // namespace rudavado
