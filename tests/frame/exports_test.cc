// The exported lifecycle and diagnostic functions, called through librondel.so
// as the host calls them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "rondel.h"
#include "udp_receiver.h"

namespace {

using rondel::testing::UdpReceiver;

TEST(KvDebugDbExport, SendsTextBytesAsOneDatagramAndNothingForNull) {
  UdpReceiver receiver;
  setenv("RONDEL_DIAG_TARGET", receiver.target().c_str(), 1);

  char thirty[] = "GetNextVideo begin 0123456789x";
  ASSERT_EQ(30u, sizeof thirty - 1);
  KvDebugDb(thirty);
  std::string payload;
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(std::string(thirty), payload);  // 30 bytes, no terminator

  char empty[] = "";
  KvDebugDb(empty);
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(0u, payload.size());

  // Null sends nothing: the next datagram to arrive is the marker sent after
  // it.
  KvDebugDb(nullptr);
  char marker[] = "after null";
  KvDebugDb(marker);
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ("after null", payload);
}

TEST(KvDebugDbExport, GbkBytesPassUnchanged) {
  UdpReceiver receiver;
  setenv("RONDEL_DIAG_TARGET", receiver.target().c_str(), 1);
  char text[] = "\xD6\xDC\xBD\xDC\xC2\xD7";
  KvDebugDb(text);
  std::string payload;
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(std::string(text), payload);
}

TEST(LifecycleExports, ExitWithoutStartAndTwiceIsHarmless) {
  ExitDatabase();
  ExitDatabase();
  // Still usable afterwards: the settings re-reader answers true whatever the
  // path.
  EXPECT_TRUE(LoadDBOptions(nullptr));
  EXPECT_TRUE(LoadDBOptions("/nonexistent/Korvane.ini"));
}

}  // namespace
