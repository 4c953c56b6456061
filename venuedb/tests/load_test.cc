// Hundreds of clients at once, well-behaved and not: the server keeps
// answering fresh logins, gives back what the crowd took once it has gone,
// and a stop in the middle of it leaves every connection and request
// journaled.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "process_stats.h"
#include "raw_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 20000;  // only keeps a broken server from hanging

// A sanitizer's allocator keeps freed memory (quarantine, shadow), so the
// server's resident size says nothing about what it gave back.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kResidentSlackKb = -1;
#else
constexpr long kResidentSlackKb = 32 * 1024;
#endif

// Logs in and runs a batch every 100 ms on its own thread, keeping the
// slowest round trip, until destroyed.
class FreshLoginProbe {
 public:
  explicit FreshLoginProbe(int port)
      : thread_([this, port] {
          while (!stop_) {
            const auto start = Clock::now();
            RawClient client(port);
            bool ok = client.logged_in() &&
                      client.Send(kBatchPacket, BatchPayload("select 1")) &&
                      client.Receive().has_value();
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(
                    Clock::now() - start)
                    .count();
            slowest_ms_ = std::max<int64_t>(slowest_ms_, ms);
            failures_ += !ok;
            ++rounds_;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
          }
        }) {}
  ~FreshLoginProbe() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int64_t slowest_ms() const { return slowest_ms_; }
  int failures() const { return failures_; }
  int rounds() const { return rounds_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> slowest_ms_{0};
  std::atomic<int> failures_{0}, rounds_{0};
  std::thread thread_;
};

// Waits until the server is back to exactly `fds` descriptors (its own handle
// reopened) and at most `rss_kb` resident; returns what it has then.
std::pair<int, long> SettleTo(pid_t pid, int fds, long rss_kb) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  for (;;) {
    const std::pair<int, long> now = {OpenDescriptors(pid), ResidentKb(pid)};
    if ((now.first == fds && now.second <= rss_kb) || Clock::now() > deadline)
      return now;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void WaitForJournal(VenueServer& server, const std::string& sql,
                    const std::vector<Row>& rows) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (server.Query(sql) != rows && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server.Query(sql), rows) << sql;
}

TEST(LoadTest, CrowdOfClientsLeavesServerAnsweringAndGivesBackWhatItTook) {
  constexpr int kHeld = 500, kSilent = 100, kHalfSent = 100, kEndless = 8;
  VenueServer server({}, {{"--login-timeout", "3000", "--request-timeout",
                           "3000", "--request-memory", "64"}});
  ASSERT_GT(server.port(), 0);
  RawClient(server.port()).Close();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int base_fds = OpenDescriptors(server.pid());
  const long base_rss_kb = ResidentKb(server.pid());

  FreshLoginProbe probe(server.port());
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kHeld; ++i) {
    clients.push_back(std::make_unique<RawClient>(server.port()));
    ASSERT_TRUE(clients.back()->logged_in()) << i;
    clients.back()->Send(kBatchPacket,
                         BatchPayload("select count(*) from vdb_procedures"));
    ASSERT_TRUE(clients.back()->Receive().has_value());
  }
  for (int i = 0; i < kSilent + kHalfSent; ++i) {
    clients.push_back(std::make_unique<RawClient>(server.port(), false));
    if (i >= kSilent)
      clients.back()->SendBytes(PreloginPacket() + Hex("10 01"));
  }
  // Requests that never end: 20 MB each, against 64 MiB for all of them.
  const std::string endless = Packets(
      kBatchPacket, BatchPayload("--" + std::string(10 << 20, 'x')), false);
  int refused_endless = 0;
  for (int i = 0; i < kEndless; ++i) {
    clients.push_back(std::make_unique<RawClient>(server.port()));
    ASSERT_TRUE(clients.back()->logged_in());
    clients.back()->SendBytes(endless);
    refused_endless += clients.back()->WaitForClose(100);
  }
  EXPECT_GT(refused_endless, 0);
  WaitForJournal(server,
                 "SELECT count(*) FROM vdb_journal WHERE kind = 'close' AND "
                 "text = 'login_timeout'",
                 {{std::to_string(kSilent + kHalfSent)}});
  clients.clear();
  probe.Stop();
  EXPECT_EQ(probe.failures(), 0);
  EXPECT_GT(probe.rounds(), 0);
  EXPECT_LT(probe.slowest_ms(), 1000);

  const long rss_bound_kb =
      kResidentSlackKb < 0 ? LONG_MAX : base_rss_kb + kResidentSlackKb;
  const auto [fds, rss_kb] = SettleTo(server.pid(), base_fds, rss_bound_kb);
  RecordProperty("slowest_fresh_login_ms", std::to_string(probe.slowest_ms()));
  RecordProperty("descriptors",
                 std::to_string(base_fds) + " -> " + std::to_string(fds));
  RecordProperty("resident_kb",
                 std::to_string(base_rss_kb) + " -> " + std::to_string(rss_kb));
  EXPECT_EQ(fds, base_fds);
  EXPECT_LE(rss_kb, rss_bound_kb);
}

TEST(LoadTest, StopWithHundredsOfConnectionsCompletesTheJournal) {
  constexpr int kHeld = 400, kWaiting = 20, kSilent = 50;
  VenueServer server;
  ASSERT_GT(server.port(), 0);
  server.Exec(
      "INSERT INTO vdb_procedures VALUES('vt_wait', '', 'SELECT 1');"
      "INSERT INTO vdb_faults VALUES('delay_procedure', 'vt_wait', 600000);");
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kHeld + kWaiting + kSilent; ++i) {
    clients.push_back(
        std::make_unique<RawClient>(server.port(), i < kHeld + kWaiting));
    if (i >= kHeld && i < kHeld + kWaiting)
      clients.back()->Send(kRpcPacket, RpcPayload("vt_wait", ""));
  }
  WaitForJournal(server,
                 "SELECT count(*) FROM vdb_journal WHERE outcome = 'running'",
                 {{std::to_string(kWaiting)}});
  EXPECT_EQ(server.Stop(), 0);
  const std::string all = std::to_string(kHeld + kWaiting + kSilent);
  EXPECT_EQ(server.Query("SELECT count(*), count(closed_us), (SELECT count(*) "
                         "FROM vdb_journal WHERE kind = 'close') FROM "
                         "vdb_connections"),
            (std::vector<Row>{{all, all, all}}));
  EXPECT_EQ(server.Query("SELECT kind, outcome, count(*) FROM vdb_journal "
                         "WHERE kind IN ('rpc', 'login') GROUP BY 1, 2"),
            (std::vector<Row>{{"login", "ok", std::to_string(kHeld + kWaiting)},
                              {"rpc", "abandoned", std::to_string(kWaiting)}}));
}

}  // namespace
}  // namespace venuedb::testing
