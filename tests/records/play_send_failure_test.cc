// A play whose send fails on an open connection is kept, not lost. The test
// program defines send() itself (exported, so DB-Library's sends come here):
// armed, it refuses the next RPC packet as a reset connection would.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <vector>

#include "database_test.h"
#include "records/outbox_test_hooks.h"
#include "rondel.h"

// A call whose send fails on a dead connection stays with DB-Library, which
// never frees it (see DropPendingCall in the exchange).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:dbrpcinit\nleak:dbrpcparam\n";
}

namespace {
std::atomic<bool> g_refuse_next_rpc{false};
constexpr unsigned char kRpcPacket = 3;
}  // namespace

extern "C" ssize_t send(int fd, const void* data, size_t size, int flags) {
  using SendFunction = ssize_t (*)(int, const void*, size_t, int);
  static const SendFunction real =
      reinterpret_cast<SendFunction>(dlsym(RTLD_NEXT, "send"));
  if (size > 0 && *static_cast<const unsigned char*>(data) == kRpcPacket &&
      g_refuse_next_rpc.exchange(false)) {
    errno = ECONNRESET;
    return -1;
  }
  return real(fd, data, size, flags);
}

namespace rondel {
namespace {

class PlaySendFailureTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    setenv("RONDEL_SNAPSHOT_DIR", scratch_.path().c_str(), 1);
    platform::LockHolder hold(CatalogueLock());
    ResetKeptPlays(kKeptPlaysCapacity);
  }
  static void Save(int media_id) {
    std::string room = "10.0.0.9", begin = "2026-03-01 20:00:00",
                end = "2026-03-01 20:04:10";
    SaveVideoTime(media_id, &room[0], &begin[0], &end[0], 2);
  }
};

TEST_F(PlaySendFailureTest, PlayWhoseSendFailsArrivesOnceWithTheNextCall) {
  g_refuse_next_rpc = true;
  Save(1);
  EXPECT_FALSE(g_refuse_next_rpc);  // the play's send was the one refused
  Save(2);
  EXPECT_EQ(venue_.Query("SELECT media_id FROM play_records ORDER BY play_id"),
            (std::vector<testing::Row>{{"1"}, {"2"}}));
}

}  // namespace
}  // namespace rondel
