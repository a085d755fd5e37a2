#include "discovery_message.h"

#include <openssl/rand.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "../util.h"
#include "soap.h"

namespace rudavado {
namespace onvif {

std::string newMessageId() {
    unsigned char b[16] = {};
    if (RAND_bytes(b, sizeof b) != 1) {
        static uint64_t fallback = 0;
        std::memcpy(b, &++fallback, sizeof fallback);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[64];
    std::snprintf(text, sizeof text,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string probeMessage(const std::string& message_id) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
           "<s:Header><a:Action s:mustUnderstand=\"1\">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe"
           "</a:Action><a:MessageID>" +
           message_id +
           "</a:MessageID><a:ReplyTo><a:Address>"
           "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:Address></a:ReplyTo>"
           "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To></s:Header>"
           "<s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body></s:Envelope>";
}

bool splitHttpUrl(const std::string& url, std::string& host, int& port, std::string& rest) {
    static const char kScheme[] = "http://";
    if (url.compare(0, sizeof kScheme - 1, kScheme) != 0) return false;
    const size_t start = sizeof kScheme - 1;
    size_t end = url.find('/', start);
    if (end == std::string::npos) end = url.size();
    std::string authority = url.substr(start, end - start);
    rest = end < url.size() ? url.substr(end) : "/";
    port = 80;
    const size_t colon = authority.find(':');
    if (colon != std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        port = std::stoi(digits);
        if (port <= 0 || port > 65535) return false;
        authority.resize(colon);
    }
    if (!isIpv4(authority)) return false;
    host = authority;
    return true;
}

namespace {

std::string urlDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void readScopes(const std::string& scopes, Announcement& a) {
    std::istringstream words(scopes);
    std::string scope;
    static const char kPrefix[] = "onvif://www.onvif.org/";
    while (words >> scope) {
        if (scope.compare(0, sizeof kPrefix - 1, kPrefix) != 0) continue;
        const std::string rest = scope.substr(sizeof kPrefix - 1);
        const size_t slash = rest.find('/');
        if (slash == std::string::npos) continue;
        const std::string key = rest.substr(0, slash), value = urlDecode(rest.substr(slash + 1));
        if (key == "name" && a.name.empty()) a.name = value;
        if (key == "hardware" && a.hardware.empty()) a.hardware = value;
        if ((key == "MAC" || key == "mac") && a.mac.empty()) a.mac = value;
    }
}

}  // namespace

void serialWords(const std::string& endpoint, uint32_t& high, uint32_t& low) {
    std::string hex;
    const std::string lower = endpoint.compare(0, 9, "urn:uuid:") == 0 ? endpoint.substr(9) : endpoint;
    bool uuid = lower.size() == 36;
    for (size_t i = 0; uuid && i < lower.size(); ++i) {
        const bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash_place ? lower[i] != '-' : !std::isxdigit(static_cast<unsigned char>(lower[i]))) uuid = false;
        if (!dash_place) hex += lower[i];
    }
    if (uuid) {
        high = static_cast<uint32_t>(std::stoul(hex.substr(0, 8), nullptr, 16));
        low = static_cast<uint32_t>(std::stoul(hex.substr(24, 8), nullptr, 16));
        return;
    }
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : endpoint) h = (h ^ c) * 1099511628211ull;
    high = static_cast<uint32_t>(h >> 32);
    low = static_cast<uint32_t>(h);
}

bool parseDiscovery(const char* data, size_t size, std::vector<Announcement>& out) {
    pugi::xml_document doc;
    if (!doc.load_buffer(data, size, pugi::parse_default)) return false;
    pugi::xml_node env = doc.document_element();
    if (std::strcmp(localName(env.name()), "Envelope") != 0) return false;
    pugi::xml_node body = child(env, "Body");
    const std::string relates_to = text(env, {"Header", "RelatesTo"});
    std::vector<std::pair<Announcement::Kind, pugi::xml_node>> entries;
    if (pugi::xml_node matches = child(body, "ProbeMatches")) {
        for (pugi::xml_node m = matches.first_child(); m; m = m.next_sibling()) {
            if (std::strcmp(localName(m.name()), "ProbeMatch") == 0)
                entries.emplace_back(Announcement::ProbeMatch, m);
        }
    } else if (pugi::xml_node hello = child(body, "Hello")) {
        entries.emplace_back(Announcement::Hello, hello);
    } else if (pugi::xml_node bye = child(body, "Bye")) {
        entries.emplace_back(Announcement::Bye, bye);
    } else {
        return false;
    }
    const size_t before = out.size();
    for (const auto& e : entries) {
        Announcement a;
        a.kind = e.first;
        a.relates_to = relates_to;
        a.endpoint = text(e.second, {"EndpointReference", "Address"});
        if (a.endpoint.empty() || a.endpoint.size() > 1024) continue;
        serialWords(a.endpoint, a.serial_high, a.serial_low);
        readScopes(text(e.second, {"Scopes"}), a);
        std::istringstream xaddrs(text(e.second, {"XAddrs"}));
        std::string url, rest;
        while (xaddrs >> url) {
            if (splitHttpUrl(url, a.ip, a.port, rest)) {
                a.xaddr = url;
                break;
            }
        }
        // A Bye names only the endpoint; other messages are of no use without an address.
        if (a.kind != Announcement::Bye && a.xaddr.empty()) continue;
        out.push_back(std::move(a));
    }
    return out.size() > before;
}

}  // namespace onvif
}  // namespace rudavado
