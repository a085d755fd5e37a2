// Dotted-quad addresses: the strict parse and the consecutive addresses of a batch.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ipv4.h"

using factory::AddIpv4;
using factory::FormatIpv4;
using factory::ParseIpv4;

TEST(Ipv4Test, ParseTakesOnlyFourPartsOfZeroTo255) {
    std::uint32_t value = 0;
    ASSERT_TRUE(ParseIpv4("192.168.1.100", &value));
    EXPECT_EQ(0xC0A80164u, value);
    ASSERT_TRUE(ParseIpv4("0.0.0.0", &value));
    EXPECT_EQ(0u, value);
    ASSERT_TRUE(ParseIpv4("255.255.255.255", &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
    ASSERT_TRUE(ParseIpv4("010.001.0.9", &value));  // leading zeros are decimal
    EXPECT_EQ(0x0A010009u, value);

    value = 7;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3", "256.1.1.1", "1.2.3.256",
                            "1.2.3.0255", "1.2.3.-1", "+1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n",
                            "1.2.3.a", "1.2.3.99999999999", "1,2,3,4"}) {
        EXPECT_FALSE(ParseIpv4(bad, &value)) << bad;
    }
    EXPECT_FALSE(ParseIpv4(std::string("1.2.3.4\0", 8), &value));
    EXPECT_EQ(7u, value);  // untouched by the refusals
}

TEST(Ipv4Test, AddCarriesAcrossOctetsAndNeverWraps) {
    std::uint32_t first = 0;
    ASSERT_TRUE(ParseIpv4("192.168.1.254", &first));
    std::uint32_t sum = 0;
    const char* expected[] = {"192.168.1.254", "192.168.1.255", "192.168.2.0"};
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(AddIpv4(first, i, &sum));
        EXPECT_EQ(expected[i], FormatIpv4(sum));
    }
    ASSERT_TRUE(ParseIpv4("10.255.255.255", &first));
    ASSERT_TRUE(AddIpv4(first, 1, &sum));
    EXPECT_EQ("11.0.0.0", FormatIpv4(sum));

    ASSERT_TRUE(ParseIpv4("255.255.255.254", &first));
    ASSERT_TRUE(AddIpv4(first, 1, &sum));
    EXPECT_EQ("255.255.255.255", FormatIpv4(sum));
    sum = 7;
    EXPECT_FALSE(AddIpv4(first, 2, &sum));
    EXPECT_FALSE(AddIpv4(0xFFFFFFFFu, 1, &sum));
    EXPECT_FALSE(AddIpv4(first, 0xFFFFFFFFu, &sum));
    EXPECT_EQ(7u, sum);
}
