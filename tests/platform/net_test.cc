#include "platform/net.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/net_test_hooks.h"
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
  for (int i = 0; i < count; ++i)
    EXPECT_TRUE(IsAddressText(out_[i])) << out_[i];
}

using Addresses = std::vector<std::string>;

// `prefix` followed by first..last: "10.0.1." 1 3 -> 10.0.1.1, 10.0.1.2, ...
Addresses Numbered(const std::string& prefix, int first, int last) {
  Addresses list;
  for (int i = first; i <= last; ++i)
    list.push_back(prefix + std::to_string(i));
  return list;
}

Addresses Joined(Addresses head, const Addresses& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// HostAddresses' whole answer as one text: the addresses separated by blanks,
// or "failed".
std::string Answer() {
  char out[kMaxHostAddresses + 8][kAddressTextSize];
  const int count = HostAddresses(out, kMaxHostAddresses + 8);
  if (count < 0) return "failed";
  std::string text;
  for (int i = 0; i < count; ++i)
    text += (i > 0 ? " " : "") + std::string(out[i]);
  return text;
}

std::string Spaced(const Addresses& list) {
  std::string text;
  for (const std::string& address : list)
    text += (text.empty() ? "" : " ") + address;
  return text;
}

struct MergeCase {
  const char* name;
  std::optional<Addresses> interfaces;  // nullopt: the source fails
  std::optional<Addresses> resolver;
  std::string expected;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class HostAddressMergeTest : public ::testing::TestWithParam<MergeCase> {
 protected:
  void TearDown() override { ClearHostAddressOverride(); }
};

TEST_P(HostAddressMergeTest, InterfacesThenResolverOnceEachLoopbackLast) {
  OverrideAddressSources(GetParam().interfaces, GetParam().resolver);
  EXPECT_EQ(Answer(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, HostAddressMergeTest,
    ::testing::Values(
        MergeCase{"DebianHostName", Addresses{"192.0.2.2", "127.0.0.1"},
                  Addresses{"127.0.1.1", "192.0.2.2"},
                  "192.0.2.2 127.0.0.1 127.0.1.1"},
        MergeCase{"DuplicatesAndLoopbackAcrossSources",
                  Addresses{"127.0.0.1", "10.0.0.1", "10.0.0.1"},
                  Addresses{"127.9.9.9", "128.0.0.1", "127.0.0.1"},
                  "10.0.0.1 128.0.0.1 127.0.0.1 127.9.9.9"},
        MergeCase{"CutAt32LoopbackFirst",
                  Joined({"127.0.0.1"}, Numbered("10.0.1.", 1, 20)),
                  Numbered("10.0.1.", 15, 40),
                  Spaced(Numbered("10.0.1.", 1, 32))},
        MergeCase{"InterfacesFail", std::nullopt,
                  Addresses{"127.0.1.1", "10.0.0.2"}, "10.0.0.2 127.0.1.1"},
        MergeCase{"ResolverFails", Addresses{"10.0.0.1"}, std::nullopt,
                  "10.0.0.1"},
        MergeCase{"BothEmpty", Addresses{}, Addresses{}, ""},
        MergeCase{"BothFail", std::nullopt, std::nullopt, "failed"}),
    [](const ::testing::TestParamInfo<MergeCase>& info) {
      return std::string(info.param.name);
    });

#ifndef _WIN32  // Linux only: reads the interfaces with getifaddrs
// The machine's own interfaces, read here without the library.
TEST(HostAddressesOnThisMachine, ListEveryUpInterfaceAddress) {
  Addresses up;
  ifaddrs* first = nullptr;
  ASSERT_EQ(getifaddrs(&first), 0);
  for (ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
        !(entry->ifa_flags & IFF_UP))
      continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET,
              &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
              sizeof(text));
    up.push_back(text);
  }
  freeifaddrs(first);
  if (up.size() > static_cast<size_t>(kMaxHostAddresses))
    GTEST_SKIP() << "more up addresses than the list holds";

  const std::string answer = " " + Answer() + " ";
  Addresses missing;
  for (const std::string& address : up) {
    if (answer.find(" " + address + " ") == std::string::npos)
      missing.push_back(address);
  }
  EXPECT_EQ(missing, Addresses{}) << "listed: " << answer;
}

#endif  // _WIN32

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
