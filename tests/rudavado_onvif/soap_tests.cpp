// Requests the ONVIF backend builds and how replies become the library's error codes.
#include <gtest/gtest.h>

#include "RuDAVADO.h"
#include "onvif/device_client.h"
#include "onvif/soap.h"

using namespace rudavado::onvif;

namespace {

std::string reply(const std::string& body) {
    return "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:ter=\"http://www.onvif.org/ver10/error\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
           "<env:Body>" +
           body + "</env:Body></env:Envelope>";
}

std::string fault(const std::string& code, const std::string& subcode) {
    std::string sub =
        subcode.empty() ? "" : "<env:Subcode><env:Value>" + subcode + "</env:Value></env:Subcode>";
    return reply("<env:Fault><env:Code><env:Value>" + code + "</env:Value>" + sub +
                 "</env:Code><env:Reason><env:Text xml:lang=\"en\">why</env:Text></env:Reason></env:Fault>");
}

}  // namespace

TEST(OnvifSoap, PasswordDigestMatchesTheUsernameTokenProfile) {
    // Base64(SHA-1(nonce + created + password)), computed independently.
    EXPECT_EQ(passwordDigest("0123456789abcdef", "2026-01-02T03:04:05Z", "secret"),
              "wjpInr7UL0thZOXWecrqoApQnDY=");
    EXPECT_EQ(base64("0123456789abcdef"), "MDEyMzQ1Njc4OWFiY2RlZg==");
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("a"), "YQ==");
}

TEST(OnvifSoap, SecurityHeaderIsDatedByTheDeviceClockAndCarriesNoClearPassword) {
    const long long device_utc = 1767323045;  // 2026-01-02T03:04:05Z
    const std::string header = securityHeader({"ad<min", "secret"}, device_utc, "0123456789abcdef");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(envelope("<tds:GetUsers/>", header).c_str()));
    pugi::xml_node token = path(doc.document_element(), {"Header", "Security", "UsernameToken"});
    EXPECT_EQ(text(token, {"Username"}), "ad<min");
    EXPECT_EQ(text(token, {"Created"}), "2026-01-02T03:04:05Z");
    EXPECT_EQ(text(token, {"Nonce"}), "MDEyMzQ1Njc4OWFiY2RlZg==");
    EXPECT_EQ(text(token, {"Password"}), "wjpInr7UL0thZOXWecrqoApQnDY=");
    EXPECT_NE(std::string(child(token, "Password").attribute("Type").value()).find("#PasswordDigest"),
              std::string::npos);
    EXPECT_EQ(header.find("secret"), std::string::npos);
    EXPECT_TRUE(path(doc.document_element(), {"Body", "GetUsers"}));

    // Random nonces differ from call to call.
    EXPECT_NE(securityHeader({"a", "b"}, device_utc), securityHeader({"a", "b"}, device_utc));
}

TEST(OnvifSoap, RepliesBecomeErrorCodes) {
    struct Case {
        const char* name;
        long status;
        std::string data;
        int error;
    } cases[] = {
        {"success", 200,
         reply("<tds:SystemRebootResponse><tds:Message>ok</tds:Message></tds:SystemRebootResponse>"),
         KPLPRC_ERR_NONE},
        {"not authorized, nested subcode", 400, fault("env:Sender", "ter:NotAuthorized"), KPLPRC_ERR_AUTH},
        {"fault on a 401", 401, fault("env:Sender", ""), KPLPRC_ERR_AUTH},
        {"WS-Security failure", 500, fault("env:Sender", "wsse:FailedAuthentication"), KPLPRC_ERR_AUTH},
        {"unsupported action", 400, fault("env:Receiver", "ter:ActionNotSupported"),
         KPLPRC_ERR_NOT_SUPPORTED},
        {"invalid argument", 400, fault("env:Sender", "ter:InvalidArgVal"), KPLPRC_ERR_PARAMETER},
        {"device fault", 500, fault("env:Receiver", "ter:Action"), KPLPRC_ERR_DEVICE},
        {"fault without subcode", 500, fault("env:Receiver", ""), KPLPRC_ERR_DEVICE},
        {"fault inside a 200", 200, fault("env:Sender", "ter:NotAuthorized"), KPLPRC_ERR_AUTH},
        {"SOAP 1.1 fault", 500,
         reply("<env:Fault><faultcode>ter:ActionNotSupported</faultcode><faultstring>no</faultstring></"
               "env:Fault>"),
         KPLPRC_ERR_NOT_SUPPORTED},
        {"401 without body", 401, "", KPLPRC_ERR_AUTH},
        {"server error without envelope", 500, "<html>oops</html>", KPLPRC_ERR_DEVICE},
        {"malformed XML", 200, "<env:Envelope><env:Body><a>", KPLPRC_ERR_DEVICE},
        {"another root", 200, "<Envelop><Body/></Envelop>", KPLPRC_ERR_DEVICE},
        {"envelope without body", 200,
         "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Header/></env:Envelope>",
         KPLPRC_ERR_DEVICE},
        {"empty 200", 200, "", KPLPRC_ERR_DEVICE},
        {"redirect", 302, reply("<x/>"), KPLPRC_ERR_DEVICE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoapReply r;
        r.parse(c.status, c.data);
        EXPECT_EQ(r.error(), c.error);
        EXPECT_EQ(static_cast<bool>(r.body()), c.error == KPLPRC_ERR_NONE);
    }
    SoapReply r;
    r.parse(400, fault("env:Sender", "ter:NotAuthorized"));
    EXPECT_EQ(r.faultSubcode(), "NotAuthorized");
    EXPECT_EQ(r.faultReason(), "why");
}

TEST(OnvifSoap, DateTimeElementsAreCheckedFieldByField) {
    auto parse = [](const std::string& inner, long long& out) {
        pugi::xml_document doc;
        doc.load_string(("<tt:UTCDateTime xmlns:tt=\"x\">" + inner + "</tt:UTCDateTime>").c_str());
        return readDateTime(doc.document_element(), out);
    };
    const std::string time =
        "<tt:Time><tt:Hour>3</tt:Hour><tt:Minute>4</tt:Minute><tt:Second>5</tt:Second></tt:Time>";
    long long t = 0;
    ASSERT_TRUE(parse(
        time + "<tt:Date><tt:Year>2026</tt:Year><tt:Month>1</tt:Month><tt:Day>2</tt:Day></tt:Date>", t));
    EXPECT_EQ(t, 1767323045);
    EXPECT_EQ(formatUtc(t), "2026-01-02T03:04:05Z");
    const char* bad_dates[] = {
        "<tt:Date><tt:Year>2026</tt:Year><tt:Month>13</tt:Month><tt:Day>2</tt:Day></tt:Date>",
        "<tt:Date><tt:Year>2026</tt:Year><tt:Month>0</tt:Month><tt:Day>2</tt:Day></tt:Date>",
        "<tt:Date><tt:Year>1969</tt:Year><tt:Month>1</tt:Month><tt:Day>2</tt:Day></tt:Date>",
        "<tt:Date><tt:Year>2026</tt:Year><tt:Month>1</tt:Month></tt:Date>",
        "<tt:Date><tt:Year>-5</tt:Year><tt:Month>1</tt:Month><tt:Day>2</tt:Day></tt:Date>",
        "<tt:Date><tt:Year>99999999999</tt:Year><tt:Month>1</tt:Month><tt:Day>2</tt:Day></tt:Date>",
        "",
    };
    for (const char* d : bad_dates) {
        SCOPED_TRACE(d);
        EXPECT_FALSE(parse(time + d, t));
    }
    EXPECT_FALSE(
        parse("<tt:Date><tt:Year>2026</tt:Year><tt:Month>1</tt:Month><tt:Day>2</tt:Day></tt:Date>", t));
}

TEST(OnvifSoap, DurationsMasksAndPrefixes) {
    const struct {
        const char* text;
        long seconds;
    } durations[] = {{"PT0S", 0},     {"PT30S", 30},
                     {"PT1M30S", 90}, {"P1DT1H", 90000},
                     {"PT2.5S", 2},   {"PT", -1},
                     {"P", -1},       {"30S", -1},
                     {"PT5", -1},     {"PTS", -1},
                     {"P1H", -1},     {"PT1D", -1},
                     {"", -1},        {"PT999999999999S", -1}};
    for (const auto& d : durations) {
        SCOPED_TRACE(d.text);
        EXPECT_EQ(parseDuration(d.text), d.seconds);
    }
    EXPECT_EQ(prefixOfMask("255.255.255.0"), 24);
    EXPECT_EQ(prefixOfMask("255.255.254.0"), 23);
    EXPECT_EQ(prefixOfMask("255.255.255.255"), 32);
    EXPECT_EQ(prefixOfMask("255.0.255.0"), -1);
    EXPECT_EQ(prefixOfMask("not a mask"), -1);
    EXPECT_EQ(maskOfPrefix(24), "255.255.255.0");
    EXPECT_EQ(maskOfPrefix(0), "0.0.0.0");
    EXPECT_EQ(maskOfPrefix(33), "");
}
