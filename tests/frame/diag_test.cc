#include "frame/diag.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_system.h"
#include "udp_receiver.h"

namespace rondel {
namespace {

using testing::SetEnv;
using testing::UnsetEnv;

using testing::UdpReceiver;

class BroadcastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(receiver_.ok());
    SetEnv("RONDEL_DIAG_TARGET", receiver_.target());
  }
  void TearDown() override { UnsetEnv("RONDEL_DIAG_TARGET"); }

  // The next datagram, checked to be `expected` byte for byte with nothing
  // added.
  void ExpectNext(const std::string& expected) {
    std::string payload;
    size_t full_size = 0;
    ASSERT_TRUE(receiver_.Receive(&payload, 5000, &full_size))
        << "nothing for " << expected;
    EXPECT_EQ(full_size, expected.size());
    EXPECT_EQ(payload, expected);
  }

  UdpReceiver receiver_;
};

TEST_F(BroadcastTest, TextArrivesAsItsBytesWithoutTerminator) {
  const std::string text = "GetNextVideo begin 0123456789";
  ASSERT_EQ(text.size(), 29u);
  const std::string thirty = text + "!";
  Broadcast(thirty.c_str());
  ExpectNext(thirty);
}

TEST_F(BroadcastTest, EmptyTextSendsEmptyDatagram) {
  Broadcast("");
  ExpectNext("");
}

TEST_F(BroadcastTest, NullTextSendsNothing) {
  Broadcast(nullptr);
  Broadcast("after null");
  ExpectNext(
      "after null");  // the first datagram to arrive is the one after the null
}

TEST_F(BroadcastTest, GbkBytesArriveUnchanged) {
  const std::string text = "\xB8\xE8\xC7\xFA room 8";
  Broadcast(text.c_str());
  ExpectNext(text);
}

TEST_F(BroadcastTest, MalformedTargetSendsNothing) {
  const std::string port = std::to_string(receiver_.port());
  const std::vector<std::string> malformed = {
      "",
      "127.0.0.1",
      "127.0.0.1:",
      ":" + port,
      "127.0.0.1:" + port + "x",
      "127.0.0.1:-" + port,
      "127.0.0.1:0",
      "127.0.0.1:99999",
      "127.0.0.1x:" + port,
      "localhost:" + port,
      "127.0.0.1:" + port + ":1",
  };
  for (const std::string& target : malformed) {
    SetEnv("RONDEL_DIAG_TARGET", target);
    Broadcast(target.c_str());
  }
  SetEnv("RONDEL_DIAG_TARGET", receiver_.target());
  Broadcast("well formed");
  ExpectNext("well formed");
}

TEST_F(BroadcastTest, TargetIsReadOnEveryCall) {
  UdpReceiver second;
  ASSERT_TRUE(second.ok());
  Broadcast("to first");
  SetEnv("RONDEL_DIAG_TARGET", second.target());
  Broadcast("to second");
  ExpectNext("to first");
  std::string payload;
  ASSERT_TRUE(second.Receive(&payload));
  EXPECT_EQ(payload, "to second");
}

TEST_F(BroadcastTest, ManyThreadsEachDeliverWholeTexts) {
  constexpr int kThreads = 4;
  constexpr int kTexts = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kTexts; ++i) {
        std::string text =
            "room " + std::to_string(t) + " step " + std::to_string(i);
        Broadcast(text.c_str());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> received;
  std::string payload;
  while (received.size() < kThreads * kTexts && receiver_.Receive(&payload)) {
    received.insert(payload);
  }
  EXPECT_EQ(received.size(), static_cast<size_t>(kThreads * kTexts));
  EXPECT_EQ(received.count("room 3 step 24"), 1u);
}

}  // namespace
}  // namespace rondel
