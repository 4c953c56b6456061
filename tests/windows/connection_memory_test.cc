// Memory across many exchanges. Every exchange opens a connection of its own
// and closes it, so whatever a connection leaves behind (a client library's
// per-connection lock, a buffer) grows a venue's host by that much per
// database call, for as long as the host runs.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h before psapi.h
#include <psapi.h>

#include <cstdint>

#include "database_test.h"
#include "frame/exchange.h"

namespace rondel {
namespace {

// The process's working set, in bytes. Its private bytes would serve as well
// on Windows, but wine reports them as 0; the working set counts every page the
// process has touched, heap included.
int64_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
    return -1;
  return static_cast<int64_t>(counters.WorkingSetSize);
}

class ConnectionMemoryTest : public testing::DatabaseTest {
 protected:
  // One whole exchange: lock, connection, a procedure call and its row, close.
  void RunExchanges(int count) {
    for (int i = 0; i < count; ++i) {
      Exchange x;
      int32_t answer = 0;
      ASSERT_TRUE(x.Call("answer_one", {}));
      ASSERT_TRUE(x.ReadRows({Column::Int(1, &answer)}, [] { return true; }));
      ASSERT_EQ(1, answer);
    }
  }
};

// The first exchanges load what every later one shares (sockets, character
// set converters, the heap's first pages); after them the working set must
// not follow the number of exchanges. A leak of a few dozen bytes per
// connection shows as tens of kilobytes here; a flat process grows by less
// than a few pages.
TEST_F(ConnectionMemoryTest, WorkingSetStaysFlatOverThousandsOfExchanges) {
  constexpr int kWarmUp = 200;
  constexpr int kMeasured = 2000;
  constexpr int64_t kMaxBytesPerExchange = 8;
  DefineProcedure("answer_one", "", "SELECT 1 AS n");
  ASSERT_NO_FATAL_FAILURE(RunExchanges(kWarmUp));
  const int64_t before = WorkingSet();
  ASSERT_NO_FATAL_FAILURE(RunExchanges(kMeasured));
  const int64_t after = WorkingSet();
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, kMeasured * kMaxBytesPerExchange)
      << "working set " << before << " -> " << after << " bytes over "
      << kMeasured << " exchanges";
}

}  // namespace
}  // namespace rondel
