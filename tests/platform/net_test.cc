#include "platform/net.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "udp_receiver.h"

namespace rondel {
namespace platform {
namespace {

using testing::UdpReceiver;

class HostAddressesTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearHostAddressOverride(); }

  char out_[8][kAddressTextSize];
};

TEST_F(HostAddressesTest, OverrideAnswersInOrderUpToCapacity) {
  OverrideHostAddresses({"10.0.0.7", "10.9.5.20", "172.16.0.1"});
  ASSERT_EQ(HostAddresses(out_, 8), 3);
  EXPECT_STREQ(out_[0], "10.0.0.7");
  EXPECT_STREQ(out_[1], "10.9.5.20");
  EXPECT_STREQ(out_[2], "172.16.0.1");

  std::memset(out_, 'Z', sizeof(out_));
  ASSERT_EQ(HostAddresses(out_, 2), 2);
  EXPECT_STREQ(out_[0], "10.0.0.7");
  EXPECT_STREQ(out_[1], "10.9.5.20");
  EXPECT_EQ(out_[2][0], 'Z');  // nothing beyond the capacity is touched

  EXPECT_EQ(HostAddresses(out_, 0), 0);
}

TEST_F(HostAddressesTest, OverrideTextsAreCutToTheFieldSize) {
  OverrideHostAddresses({"123456789012345678901234"});
  ASSERT_EQ(HostAddresses(out_, 8), 1);
  EXPECT_STREQ(out_[0], "1234567890123456789");
}

TEST_F(HostAddressesTest, EmptyOverrideAnswersNone) {
  OverrideHostAddresses({});
  EXPECT_EQ(HostAddresses(out_, 8), 0);
}

TEST_F(HostAddressesTest, FailureLeavesOutputUntouched) {
  std::memset(out_, 'Z', sizeof(out_));
  FailHostAddresses();
  EXPECT_EQ(HostAddresses(out_, 8), -1);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out_[i][0], 'Z');
}

TEST_F(HostAddressesTest, ClearRestoresTheResolver) {
  FailHostAddresses();
  ClearHostAddressOverride();
  int count = HostAddresses(out_, 8);
  // The real answer depends on the machine; whatever it is, it is dotted IPv4
  // texts.
  ASSERT_GE(count, -1);
  for (int i = 0; i < count; ++i) {
    in_addr parsed;
    EXPECT_EQ(inet_pton(AF_INET, out_[i], &parsed), 1) << out_[i];
  }
}

TEST(SendDatagramTest, DeliversExactBytesToLoopback) {
  UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  const char data[] = {'a', '\0', 'b', '\xff'};
  ASSERT_TRUE(SendDatagram("127.0.0.1", receiver.port(), data, sizeof(data)));
  std::string payload;
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(payload, std::string(data, sizeof(data)));

  ASSERT_TRUE(SendDatagram("127.0.0.1", receiver.port(), nullptr, 0));
  size_t full_size = 99;
  ASSERT_TRUE(receiver.Receive(&payload, 5000, &full_size));
  EXPECT_EQ(full_size, 0u);
}

TEST(SendDatagramTest, RejectsBadArguments) {
  EXPECT_FALSE(SendDatagram("not an address", 6001, "x", 1));
  EXPECT_FALSE(SendDatagram(nullptr, 6001, "x", 1));
  EXPECT_FALSE(SendDatagram("127.0.0.1", 6001, nullptr, 1));
  // Larger than any UDP datagram can be.
  std::string huge(70000, 'x');
  EXPECT_FALSE(SendDatagram("127.0.0.1", 6001, huge.data(), huge.size()));
}

}  // namespace
}  // namespace platform
}  // namespace rondel
