// What clients can take from the server, and what happens when it runs short:
// each bound refuses or closes what passes it, journals it, and leaves the
// server answering the next login.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "process_stats.h"
#include "raw_client.h"
#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::ServeSettings;
using rondel::testing::VenueServer;

// Generous bounds for a loaded machine: they only keep a broken server from
// hanging the test.
constexpr int kCloseWaitMs = 10000;

// Logs in again and again until it works or `ms` pass (sessions the test
// closed end a moment later).
bool FreshLoginWithin(int port, int ms) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    if (RawClient(port).logged_in()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// Polls the journal until the query answers `rows` or `ms` pass.
bool JournalShows(VenueServer& server, const std::string& sql,
                  const std::vector<Row>& rows, int ms) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (server.Query(sql) != rows) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Each connection's login, refused flag and close text, in order.
std::vector<Row> Closes(VenueServer& server) {
  return server.Query(
      "SELECT c.login, c.refused, j.text FROM vdb_connections c "
      "JOIN vdb_journal j USING(conn_id) WHERE j.kind='close' "
      "ORDER BY conn_id");
}

TEST(ConnectionLimitTest, LoginPastTheLimitFailsWith17809) {
  VenueServer server({}, {{"--max-connections", "2"}});
  ASSERT_GT(server.port(), 0);
  auto first = std::make_unique<RawClient>(server.port());
  RawClient second(server.port());
  ASSERT_TRUE(first->logged_in() && second.logged_in());
  {
    Client third(server.port());
    EXPECT_FALSE(third.connected());
    ASSERT_EQ(third.login_messages().size(), 1u);
    EXPECT_EQ(third.login_messages()[0].number, 17809);
  }
  first.reset();
  ASSERT_TRUE(
      JournalShows(server,
                   "SELECT closed_us IS NOT NULL FROM vdb_connections WHERE "
                   "conn_id = 1",
                   {{"1"}}, kCloseWaitMs));
  EXPECT_TRUE(RawClient(server.port()).logged_in());
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(Closes(server),
            (std::vector<Row>{{"sa", "0", ""},
                              {"sa", "0", ""},
                              {"sa", "1", "refused: connection limit"},
                              {"sa", "0", ""}}));
}

// A client that stops part-way, before or after its login.
struct StallCase {
  const char* name;
  bool log_in;
  std::string bytes;       // sent, then nothing more
  const char* close_text;  // of the connection's close row
};

void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

const StallCase kStallCases[] = {
    {"SilentConnection", false, "", "login_timeout"},
    {"HalfAHeaderBeforeLogin", false, Hex("12 01 00"), "login_timeout"},
    {"PreloginThenNothing", false, PreloginPacket(), "login_timeout"},
    {"LoginWithoutEndOfMessage", false, PreloginPacket() + Hex("10 00 0100"),
     "login_timeout"},
    {"HalfAHeaderAfterLogin", true, Hex("01 01 00"), "request_timeout"},
    {"BatchWithoutEndOfMessage", true,
     Packets(kBatchPacket, BatchPayload("select 1"), false), "request_timeout"},
};

class StalledClientTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(StalledClientTest, IsClosedAndJournaled) {
  VenueServer server({},
                     {{"--login-timeout", "300", "--request-timeout", "300"}});
  ASSERT_GT(server.port(), 0);
  RawClient client(server.port(), GetParam().log_in);
  ASSERT_TRUE(client.SendBytes(GetParam().bytes));
  EXPECT_TRUE(client.WaitForClose(kCloseWaitMs));
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(Closes(server),
            (std::vector<Row>{
                {GetParam().log_in ? Row::value_type("sa") : std::nullopt, "0",
                 GetParam().close_text}}));
}

INSTANTIATE_TEST_SUITE_P(Stalls, StalledClientTest,
                         ::testing::ValuesIn(kStallCases),
                         [](const auto& info) { return info.param.name; });

TEST(StalledClientTest, IdleLoggedInClientStays) {
  VenueServer server({},
                     {{"--login-timeout", "300", "--request-timeout", "300"}});
  ASSERT_GT(server.port(), 0);
  RawClient client(server.port());
  ASSERT_TRUE(client.logged_in());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_TRUE(client.Send(kBatchPacket, BatchPayload("select 7 as n")));
  EXPECT_EQ(DescribeReply(client.Receive().value_or("closed")),
            "COLS n; ROW 7; DONE 0x0010 1");
}

TEST(RequestMemoryTest, RequestPastTheCapIsRefusedOthersGoOn) {
  VenueServer server({}, {{"--request-memory", "1"}});
  ASSERT_GT(server.port(), 0);
  // 600 KB of batch: one fits under the 1 MiB cap, two do not.
  const std::string batch =
      BatchPayload("select 1 as n --" + std::string(300000, 'x'));
  const std::string head = Packets(kBatchPacket, batch, false);
  RawClient first(server.port()), second(server.port());
  ASSERT_TRUE(first.logged_in() && second.logged_in());
  ASSERT_TRUE(first.SendBytes(head));
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (UnreadBytesAt(server.port()) > 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  second.SendBytes(head);
  EXPECT_EQ(DescribeReply(second.Receive().value_or("closed")),
            "ERROR 701; DONE 0x0002 0");
  EXPECT_TRUE(second.WaitForClose(kCloseWaitMs));
  // The first one's request completes; a third sends as much once it has.
  ASSERT_TRUE(first.SendBytes(Packets(kBatchPacket, Utf16("xx"))));
  EXPECT_EQ(DescribeReply(first.Receive().value_or("closed")),
            "COLS n; ROW 1; DONE 0x0010 1");
  RawClient third(server.port());
  ASSERT_TRUE(third.Send(kBatchPacket, batch));
  EXPECT_EQ(DescribeReply(third.Receive().value_or("closed")),
            "COLS n; ROW 1; DONE 0x0010 1");
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(server.Query("SELECT conn_id, kind, outcome, iif(kind = 'close', "
                         "text, NULL) FROM vdb_journal WHERE kind IN "
                         "('batch', 'close') ORDER BY conn_id, id"),
            (std::vector<Row>{{"1", "batch", "ok", std::nullopt},
                              {"1", "close", "ok", ""},
                              {"2", "batch", "failed", std::nullopt},
                              {"2", "close", "ok", "request_memory_cap"},
                              {"3", "batch", "ok", std::nullopt},
                              {"3", "close", "ok", ""}}));
}

// The server runs out of threads (RLIMIT_NPROC) or descriptors (RLIMIT_NOFILE)
// while clients hold their connections, logged in or not: the ones it cannot
// serve are refused, it neither ends nor spins, and it serves again once they
// let go.
struct ShortageCase {
  const char* name;
  int resource;
  int headroom;         // over what the server's user already has
  const char* refusal;  // close text of a refused connection
};

void PrintTo(const ShortageCase& c, std::ostream* os) { *os << c.name; }

class ShortageTest : public ::testing::TestWithParam<ShortageCase> {};

TEST_P(ShortageTest, RefusesWhatItCannotServeAndRecovers) {
  constexpr int kLoggedIn = 40;
  constexpr int kSilent = 20;
  const ShortageCase& shortage = GetParam();
#if defined(__SANITIZE_ADDRESS__)
  // The undefined-behaviour checks of a sanitized server open a pipe to test
  // whether memory is readable: with no descriptor left they report objects
  // that are fine.
  if (shortage.resource == RLIMIT_NOFILE)
    GTEST_SKIP() << "a sanitized server needs descriptors of its own";
#endif
  const uid_t user =
      geteuid() == 0 ? rondel::testing::kUnprivilegedUid : geteuid();
  const int base = shortage.resource == RLIMIT_NPROC ? TasksOfUser(user) : 0;
  VenueServer server(
      {}, ServeSettings{{},
                        {{shortage.resource,
                          static_cast<uint64_t>(base + shortage.headroom)}}});
  ASSERT_GT(server.port(), 0);
  std::vector<std::unique_ptr<RawClient>> clients;
  int served = 0;
  for (int i = 0; i < kLoggedIn + kSilent; ++i) {
    clients.push_back(
        std::make_unique<RawClient>(server.port(), i < kLoggedIn));
    served += clients.back()->logged_in();
  }
  EXPECT_GT(served, 0);
  EXPECT_LT(served, kLoggedIn);
  // A login arriving now is refused at once rather than left in the backlog,
  // and the server idles meanwhile.
  const double cpu_before = CpuSeconds(server.pid());
  RawClient late(server.port());
  EXPECT_FALSE(late.logged_in());
  EXPECT_TRUE(late.WaitForClose(kCloseWaitMs));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(CpuSeconds(server.pid()) - cpu_before, 0.5);
  clients.clear();
  EXPECT_TRUE(FreshLoginWithin(server.port(), kCloseWaitMs));
  EXPECT_EQ(server.Stop(), 0);
  // Every connection closed, at least the refused logins marked refused, and
  // the shortage named.
  EXPECT_EQ(
      server.Query("SELECT count(*) = count(closed_us), sum(refused) >= " +
                   std::to_string(kLoggedIn - served + 1) +
                   ", (SELECT count(*) > 0 FROM vdb_journal WHERE "
                   "kind = 'close' AND text = '" +
                   shortage.refusal + "') FROM vdb_connections"),
      (std::vector<Row>{{"1", "1", "1"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Shortages, ShortageTest,
    ::testing::Values(ShortageCase{"NoThreads", RLIMIT_NPROC, 24,
                                   "refused: no thread"},
                      // A logged-in session takes three descriptors: one of
                      // three limits in a row leaves none at all for accept.
                      ShortageCase{"NoDescriptors48", RLIMIT_NOFILE, 48,
                                   "refused: no descriptor"},
                      ShortageCase{"NoDescriptors49", RLIMIT_NOFILE, 49,
                                   "refused: no descriptor"},
                      ShortageCase{"NoDescriptors50", RLIMIT_NOFILE, 50,
                                   "refused: no descriptor"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace venuedb::testing
