#include "probe_range.h"

#include <gtest/gtest.h>

namespace rondel {
namespace tools {
namespace {

TEST(ProbeRangeTest, IdRangesAcceptRangesSingleIdsAndNegatives) {
  int32_t first = 0, last = 0;
  ASSERT_TRUE(ParseIdRange("100-250", &first, &last));
  EXPECT_EQ(100, first);
  EXPECT_EQ(250, last);
  ASSERT_TRUE(ParseIdRange("42", &first, &last));
  EXPECT_EQ(42, first);
  EXPECT_EQ(42, last);
  ASSERT_TRUE(ParseIdRange("-5--1", &first, &last));
  EXPECT_EQ(-5, first);
  EXPECT_EQ(-1, last);
  ASSERT_TRUE(ParseIdRange("-3", &first, &last));
  EXPECT_EQ(-3, first);
  ASSERT_TRUE(ParseIdRange("2147483647", &first, &last));
  EXPECT_EQ(2147483647, last);
}

TEST(ProbeRangeTest, IdRangesRejectMalformedReversedAndHugeRanges) {
  int32_t first = 7, last = 7;
  for (const char* text : {"", "-", "a", "1-", "-1-", "1-2-3", "5-4", "1 -2",
                           "2147483648", "0-1000000", "12x", "1--"}) {
    EXPECT_FALSE(ParseIdRange(text, &first, &last)) << text;
  }
  EXPECT_EQ(7, first);
  EXPECT_EQ(7, last);
  EXPECT_TRUE(ParseIdRange("1-1000000", &first, &last));
}

TEST(ProbeRangeTest, AddressRangesRoundTrip) {
  uint32_t first = 0, last = 0;
  ASSERT_TRUE(ParseAddressRange("10.1.0.250-10.1.1.3", &first, &last));
  EXPECT_EQ(10u, last - first + 1);
  EXPECT_EQ("10.1.0.250", FormatAddress(first));
  EXPECT_EQ("10.1.1.0", FormatAddress(first + 6));
  EXPECT_EQ("10.1.1.3", FormatAddress(last));
  ASSERT_TRUE(ParseAddressRange("127.0.0.1", &first, &last));
  EXPECT_EQ(first, last);
  EXPECT_EQ("127.0.0.1", FormatAddress(first));
}

TEST(ProbeRangeTest, AddressRangesRejectMalformedReversedAndHugeRanges) {
  uint32_t first = 1, last = 1;
  for (const char* text :
       {"", "10.1.0", "10.1.0.256", "10.1.0.2-10.1.0.1", "010.1.0.1x",
        "10.0.0.0-10.255.255.255", "host-name"}) {
    EXPECT_FALSE(ParseAddressRange(text, &first, &last)) << text;
  }
  EXPECT_EQ(1u, first);
}

}  // namespace
}  // namespace tools
}  // namespace rondel
