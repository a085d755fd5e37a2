// WS-Discovery messages: the probe we send and the ProbeMatches, Hello and Bye devices send.
#include <gtest/gtest.h>

#include <set>

#include "onvif/discovery_message.h"
#include "onvif/soap.h"

using namespace rudavado::onvif;

namespace {

std::string message(const std::string& header, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\">"
           "<SOAP-ENV:Header>" +
           header + "</SOAP-ENV:Header><SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string match(const std::string& endpoint, const std::string& xaddrs, const std::string& scopes) {
    return "<wsd:ProbeMatch><wsa:EndpointReference><wsa:Address>" + endpoint +
           "</wsa:Address></wsa:EndpointReference><wsd:Types>dn:NetworkVideoTransmitter</wsd:Types>"
           "<wsd:Scopes>" +
           scopes + "</wsd:Scopes><wsd:XAddrs>" + xaddrs +
           "</wsd:XAddrs><wsd:MetadataVersion>1</wsd:MetadataVersion></wsd:ProbeMatch>";
}

bool parse(const std::string& text, std::vector<Announcement>& out) {
    return parseDiscovery(text.data(), text.size(), out);
}

}  // namespace

TEST(OnvifDiscoveryMessage, ProbeAsksForNetworkVideoTransmittersWithItsOwnMessageId) {
    const std::string id = newMessageId();
    EXPECT_EQ(id.size(), 45u);
    EXPECT_EQ(id.compare(0, 9, "urn:uuid:"), 0);
    EXPECT_NE(id, newMessageId());
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(probeMessage(id).c_str()));
    pugi::xml_node env = doc.document_element();
    EXPECT_EQ(text(env, {"Header", "MessageID"}), id);
    EXPECT_EQ(text(env, {"Header", "Action"}), "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe");
    EXPECT_EQ(text(env, {"Header", "To"}), "urn:schemas-xmlsoap-org:ws:2005:04:discovery");
    EXPECT_EQ(text(env, {"Body", "Probe", "Types"}), "dn:NetworkVideoTransmitter");
    // Our own probe, looped back to us, is no device.
    std::vector<Announcement> out;
    EXPECT_FALSE(parse(probeMessage(id), out));
}

TEST(OnvifDiscoveryMessage, ProbeMatchesGiveAddressPortScopesAndSerialWords) {
    const std::string text = message(
        "<wsa:RelatesTo>urn:uuid:1</wsa:RelatesTo>",
        "<wsd:ProbeMatches>" +
            match("urn:uuid:5f5a69c2-e0ae-504f-829b-00112233aabb",
                  "http://[fe80::1]/onvif/device_service http://192.168.1.64:8080/onvif/device_service",
                  "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/name/Gate%20West "
                  "onvif://www.onvif.org/hardware/KP-ONVIF-1 onvif://www.onvif.org/MAC/00:11:22:33:aa:bb") +
            match("urn:uuid:00000000-0000-0000-0000-000000000002", "http://192.168.1.65/onvif/device_service",
                  "") +
            "</wsd:ProbeMatches>");
    std::vector<Announcement> out;
    ASSERT_TRUE(parse(text, out));
    ASSERT_EQ(out.size(), 2u);
    const Announcement& a = out[0];
    EXPECT_EQ(a.kind, Announcement::ProbeMatch);
    EXPECT_EQ(a.ip, "192.168.1.64");
    EXPECT_EQ(a.port, 8080);
    EXPECT_EQ(a.xaddr, "http://192.168.1.64:8080/onvif/device_service");
    EXPECT_EQ(a.name, "Gate West");
    EXPECT_EQ(a.hardware, "KP-ONVIF-1");
    EXPECT_EQ(a.mac, "00:11:22:33:aa:bb");
    EXPECT_EQ(a.serial_high, 0x5f5a69c2u);
    EXPECT_EQ(a.serial_low, 0x2233aabbu);
    EXPECT_EQ(a.relates_to, "urn:uuid:1");
    EXPECT_EQ(out[1].port, 80);
    EXPECT_EQ(out[1].serial_low, 2u);
}

TEST(OnvifDiscoveryMessage, HelloAndByeAreAnnouncements) {
    std::vector<Announcement> out;
    ASSERT_TRUE(parse(message("",
                              "<wsd:Hello><wsa:EndpointReference><wsa:Address>urn:uuid:x</wsa:Address>"
                              "</wsa:EndpointReference><wsd:XAddrs>http://10.0.0.9/onvif/device_service"
                              "</wsd:XAddrs></wsd:Hello>"),
                      out));
    ASSERT_TRUE(parse(message("",
                              "<wsd:Bye><wsa:EndpointReference><wsa:Address>urn:uuid:x</wsa:Address>"
                              "</wsa:EndpointReference></wsd:Bye>"),
                      out));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, Announcement::Hello);
    EXPECT_EQ(out[0].ip, "10.0.0.9");
    EXPECT_EQ(out[1].kind, Announcement::Bye);
    EXPECT_EQ(out[1].endpoint, "urn:uuid:x");
}

TEST(OnvifDiscoveryMessage, MessagesWithoutAUsableDeviceAreDropped) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"no IPv4 http address",
         message("", "<wsd:ProbeMatches>" +
                         match("urn:uuid:a", "https://10.0.0.1/ http://[::1]/ ftp://1.2.3.4/", "") +
                         "</wsd:ProbeMatches>")},
        {"no endpoint",
         message("", "<wsd:ProbeMatches>" + match("", "http://10.0.0.1/", "") + "</wsd:ProbeMatches>")},
        {"bad port", message("", "<wsd:ProbeMatches>" + match("urn:uuid:a", "http://10.0.0.1:99999/", "") +
                                     "</wsd:ProbeMatches>")},
        {"hostname", message("", "<wsd:ProbeMatches>" + match("urn:uuid:a", "http://camera.local/", "") +
                                     "</wsd:ProbeMatches>")},
        {"empty matches", message("", "<wsd:ProbeMatches/>")},
        {"other body", message("", "<wsd:Resolve/>")},
        {"malformed", "<Envelope><Body><ProbeMatches>"},
        {"not XML", "\x01\x02garbage"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Announcement> out;
        EXPECT_FALSE(parse(c.text, out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(OnvifDiscoveryMessage, SerialWordsAreStablePerEndpoint) {
    uint32_t high = 0, low = 0;
    serialWords("urn:uuid:00112233-4455-6677-8899-AABBCCDDEEFF", high, low);
    EXPECT_EQ(high, 0x00112233u);
    EXPECT_EQ(low, 0xccddeeffu);
    // Other references are hashed: the same text the same words, different texts different ones.
    std::set<std::pair<uint32_t, uint32_t>> seen;
    for (const char* e : {"urn:uuid:not-a-uuid", "http://10.0.0.1/", "serial:ABC@10.0.0.1",
                          "serial:ABD@10.0.0.1", "urn:uuid:00112233-4455-6677-8899-AABBCCDDEEF"}) {
        serialWords(e, high, low);
        uint32_t h2 = 0, l2 = 0;
        serialWords(e, h2, l2);
        EXPECT_EQ(std::make_pair(high, low), std::make_pair(h2, l2)) << e;
        EXPECT_TRUE(seen.insert({high, low}).second) << e;
    }
}

TEST(OnvifDiscoveryMessage, HttpUrlsSplitIntoIpv4HostAndPort) {
    std::string host, rest;
    int port = 0;
    EXPECT_TRUE(splitHttpUrl("http://10.1.2.3/onvif/device_service", host, port, rest));
    EXPECT_EQ(host, "10.1.2.3");
    EXPECT_EQ(port, 80);
    EXPECT_EQ(rest, "/onvif/device_service");
    EXPECT_TRUE(splitHttpUrl("http://10.1.2.3:8000", host, port, rest));
    EXPECT_EQ(port, 8000);
    EXPECT_EQ(rest, "/");
    for (const char* bad : {"http://10.1.2.3:/", "http://10.1.2.3:0/", "http://10.1.2.300/",
                            "https://10.1.2.3/", "http://user@10.1.2.3/", "http:///", ""}) {
        EXPECT_FALSE(splitHttpUrl(bad, host, port, rest)) << bad;
    }
}
