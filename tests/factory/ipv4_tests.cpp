// Dotted-quad addresses: the strict parse and the consecutive addresses of a batch.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ipv4.h"

using namespace factory;

TEST(Ipv4Test, ParseTakesOnlyFourPartsOfZeroTo255) {
    std::uint32_t value = 0;
    EXPECT_TRUE(ParseIpv4("255.255.255.255", &value) && value == 0xFFFFFFFFu);
    EXPECT_TRUE(ParseIpv4("010.001.0.9", &value) && value == 0x0A010009u);  // leading zeros are decimal
    value = 7;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.", "1..2.3", "256.1.1.1", "1.2.3.0255",
                            "1.2.3.-1", "+1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "1.2.3.a", "1.2.3.99999999999"}) {
        EXPECT_FALSE(ParseIpv4(bad, &value)) << bad;
    }
    EXPECT_FALSE(ParseIpv4(std::string("1.2.3.4\0", 8), &value));
    EXPECT_EQ(7u, value);  // untouched by the refusals
}

TEST(Ipv4Test, AddCarriesAcrossOctetsAndNeverWraps) {
    std::uint32_t first = 0, sum = 0;
    ASSERT_TRUE(ParseIpv4("192.168.1.254", &first));
    const char* expected[] = {"192.168.1.254", "192.168.1.255", "192.168.2.0"};
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(AddIpv4(first, i, &sum));
        EXPECT_EQ(expected[i], FormatIpv4(sum));
    }
    ASSERT_TRUE(AddIpv4(0x0AFFFFFFu, 1, &sum));
    EXPECT_EQ("11.0.0.0", FormatIpv4(sum));
    ASSERT_TRUE(AddIpv4(0xFFFFFFFEu, 1, &sum));
    EXPECT_EQ("255.255.255.255", FormatIpv4(sum));
    sum = 7;
    EXPECT_FALSE(AddIpv4(0xFFFFFFFEu, 2, &sum));
    EXPECT_FALSE(AddIpv4(1, 0xFFFFFFFFu, &sum));
    EXPECT_EQ(7u, sum);
}
