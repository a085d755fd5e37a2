// Logging in and out, dropped sessions, clock and password.
#include <chrono>
#include <cstring>

#include "rudavado_test_support.h"

using rdvtest::kPassword;
using rdvtest::kUser;
using rdvtest::NetworkTest;

namespace {

class SessionTest : public NetworkTest {};

TEST_F(SessionTest, OpenFailsForEachReasonWithItsError) {
    struct Case {
        const char* ip;
        int port;
        const char* user;
        const char* password;
        int error;
    } cases[] = {
        {"192.168.1.99", 80, kUser, kPassword, KPLPRC_ERR_TIMEOUT},   // nobody there
        {"192.168.1.104", 80, kUser, kPassword, KPLPRC_ERR_TIMEOUT},  // powered off
        {"192.168.1.102", 80, kUser, kPassword, KPLPRC_ERR_REFUSED},  // listens on 8080
        {"192.168.1.100", 8080, kUser, kPassword, KPLPRC_ERR_REFUSED},
        {"192.168.1.100", 80, kUser, "Tolvi", KPLPRC_ERR_AUTH},
        {"192.168.1.100", 80, "root", kPassword, KPLPRC_ERR_AUTH},
        {"192.168.1.103", 80, kUser, kPassword, KPLPRC_ERR_AUTH},  // has its own password
        {"192.168.1.100", 80, kUser, "", KPLPRC_ERR_AUTH},
        {"192.168.1.300", 80, kUser, kPassword, KPLPRC_ERR_PARAMETER},
        {"192.168.1", 80, kUser, kPassword, KPLPRC_ERR_PARAMETER},
        {"192.168.1.100", 0, kUser, kPassword, KPLPRC_ERR_PARAMETER},
        {"192.168.1.100", 65536, kUser, kPassword, KPLPRC_ERR_PARAMETER},
        {nullptr, 80, kUser, kPassword, KPLPRC_ERR_PARAMETER},
        {"192.168.1.100", 80, nullptr, kPassword, KPLPRC_ERR_PARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nullptr, KpLPRClient_Open(c.ip, c.port, c.user, c.password))
            << (c.ip ? c.ip : "null") << ":" << c.port;
        EXPECT_EQ(c.error, KpLPRClient_GetLastError()) << (c.ip ? c.ip : "null") << ":" << c.port;
    }
    EXPECT_NE(nullptr, open("192.168.1.102", 8080));
    EXPECT_NE(nullptr, open("192.168.1.103", 80, kUser, "Kp@2024"));
}

TEST_F(SessionTest, UnansweredOpenWaitsForTheConnectTimeout) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("connect_timeout", 1e6));  // 1 s at the test scale
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, open("10.9.9.9"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));
    EXPECT_EQ(KPLPRC_ERR_TIMEOUT, KpLPRClient_GetLastError());
    // A wrong port is refused by the camera that answers there, without the time-out's wait.
    EXPECT_EQ(nullptr, open("192.168.1.102"));
    EXPECT_EQ(KPLPRC_ERR_REFUSED, KpLPRClient_GetLastError());
}

TEST_F(SessionTest, SessionLimitCountsOnlyLiveSessions) {
    const int cam = camera("192.168.1.112");  // allows two
    KPLPRC_HANDLE a = open("192.168.1.112");
    KPLPRC_HANDLE b = open("192.168.1.112");
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(2, state(cam).sessions);
    EXPECT_EQ(nullptr, open("192.168.1.112"));
    EXPECT_EQ(KPLPRC_ERR_TOO_MANY_SESSIONS, KpLPRClient_GetLastError());

    ASSERT_EQ(0, KpLPRClient_Close(a));
    EXPECT_EQ(1, state(cam).sessions);
    KPLPRC_HANDLE c = open("192.168.1.112");
    ASSERT_NE(nullptr, c);
    EXPECT_NE(a, c) << "handles are never reused";
    EXPECT_EQ(-1, KpLPRClient_Close(a));
    EXPECT_EQ(KPLPRC_ERR_INVALID_HANDLE, KpLPRClient_GetLastError());
}

TEST_F(SessionTest, DroppedSessionFailsUntilClosed) {
    const int cam = camera("192.168.1.101");
    KPLPRC_HANDLE h = open("192.168.1.101");
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 0));
    KPLPRC_DATETIME t{};
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(h, &t));
    EXPECT_EQ(KPLPRC_ERR_SESSION_LOST, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(-1, KpLPRClient_GetUpdateProgress(h));
    EXPECT_EQ(0, state(cam).sessions);
    EXPECT_EQ(0, KpLPRClient_Close(h)) << "closing a dropped session frees it";
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(h, &t));
    EXPECT_EQ(KPLPRC_ERR_INVALID_HANDLE, KpLPRClient_GetLastError());
}

TEST_F(SessionTest, ClockIsSetAndReadAsSixIntegers) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_NE(nullptr, h);
    // 2024-02-29 23:59:30: years since 1900, month from 0.
    const KPLPRC_DATETIME set{124, 1, 29, 23, 59, 30};
    ASSERT_EQ(0, KpLPRClient_SetDateTime(h, &set));
    KPLPRC_DATETIME got{};
    ASSERT_EQ(0, KpLPRClient_GetDateTime(h, &got));
    EXPECT_EQ(124, got.year);
    EXPECT_EQ(1, got.month);
    EXPECT_EQ(29, got.day);
    EXPECT_EQ(23, got.hour);
    EXPECT_EQ(59, got.minute);
    EXPECT_NEAR(30, got.second, 2);
    RuDAVADO_CameraState s = state(camera("192.168.1.100"));
    EXPECT_EQ(124, s.clock.year);

    const KPLPRC_DATETIME bad[] = {
        {123, 1, 29, 0, 0, 0},                        // 2023 has no 29 February
        {124, 12, 1, 0, 0, 0},                        // month 12
        {124, -1, 1, 0, 0, 0}, {124, 0, 0, 0, 0, 0},  // day 0
        {124, 3, 31, 0, 0, 0},                        // 31 April
        {124, 0, 1, 24, 0, 0}, {124, 0, 1, 0, 60, 0},
        {124, 0, 1, 0, 0, 60}, {69, 0, 1, 0, 0, 0},  // before 1970
        {2024, 0, 1, 0, 0, 0},                       // a full year instead of years since 1900
    };
    for (const KPLPRC_DATETIME& b : bad) {
        EXPECT_EQ(-1, KpLPRClient_SetDateTime(h, &b)) << b.year << "-" << b.month << "-" << b.day;
        EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());
    }
    EXPECT_EQ(-1, KpLPRClient_SetDateTime(h, nullptr));
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(h, nullptr));
    ASSERT_EQ(0, KpLPRClient_GetDateTime(h, &got));
    EXPECT_EQ(124, got.year) << "refused settings change nothing";
}

TEST_F(SessionTest, CamerasKeepTheirOwnClocks) {
    KPLPRC_HANDLE a = open("192.168.1.100");
    KPLPRC_HANDLE b = open("192.168.1.106");  // runs about an hour behind
    KPLPRC_DATETIME ta{}, tb{};
    ASSERT_EQ(0, KpLPRClient_GetDateTime(a, &ta));
    ASSERT_EQ(0, KpLPRClient_GetDateTime(b, &tb));
    const int ma = ta.hour * 60 + ta.minute, mb = tb.hour * 60 + tb.minute;
    const int diff = ((ma - mb) % 1440 + 1440) % 1440;
    EXPECT_NEAR(62, diff, 1);
}

TEST_F(SessionTest, PasswordChangeAppliesToNewLogins) {
    const int cam = camera("192.168.1.101");
    KPLPRC_HANDLE h = open("192.168.1.101");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(-1, KpLPRClient_SetLoginAccount(h, ""));
    EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_SetLoginAccount(h, nullptr));
    EXPECT_EQ(-1, KpLPRClient_SetLoginAccount(h, std::string(64, 'x').c_str()));
    EXPECT_STREQ(kPassword, state(cam).password);

    ASSERT_EQ(0, KpLPRClient_SetLoginAccount(h, "n3w-Pass"));
    EXPECT_STREQ("n3w-Pass", state(cam).password);
    KPLPRC_DATETIME t{};
    EXPECT_EQ(0, KpLPRClient_GetDateTime(h, &t)) << "the session that changed it goes on";
    EXPECT_EQ(nullptr, open("192.168.1.101"));
    EXPECT_EQ(KPLPRC_ERR_AUTH, KpLPRClient_GetLastError());
    EXPECT_NE(nullptr, open("192.168.1.101", 80, kUser, "n3w-Pass"));
}

}  // namespace
