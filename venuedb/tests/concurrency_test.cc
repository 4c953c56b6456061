// Eight clients at once, each logging in and calling procedures that write:
// nobody waits forever and the journal holds every request.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;

TEST(ConcurrencyTest, EightClientsLogInAndCallAtOnce) {
  constexpr int kClients = 8;
  constexpr int kLogins = 5;
  constexpr int kCalls = 20;
  VenueServer server;
  ASSERT_GT(server.port(), 0);
  server.Exec(
      "CREATE TABLE counts(client INTEGER, n INTEGER);"
      "INSERT INTO vdb_procedures VALUES('vt_count', '@client int\n@total int "
      "= 0 OUTPUT',"
      " 'INSERT INTO counts VALUES(@client, 1);"
      "  SELECT count(*) AS \"@total\" FROM counts WHERE client = @client;"
      "  SELECT client, count(*) FROM counts WHERE client = @client;');");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      int done = 0;
      for (int l = 0; l < kLogins; ++l) {
        Client c(server.port());
        if (!c.connected() || !c.Use("karaok")) {
          ++failures;
          continue;
        }
        for (int i = 0; i < kCalls; ++i) {
          Outcome out = c.Call("vt_count", {IntParam("@client", t),
                                            IntParam("@total", 0, true)});
          ++done;
          if (!out.ok || out.returns.size() != 1 ||
              out.returns[0].value != std::to_string(done) ||
              out.results.size() != 1) {
            ++failures;
          }
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(server.Query("SELECT count(*) FROM counts"),
            (std::vector<Row>{{std::to_string(kClients * kLogins * kCalls)}}));
  EXPECT_EQ(
      server.Query(
          "SELECT kind, count(*), sum(ok) FROM vdb_journal "
          "WHERE kind IN ('login', 'use', 'rpc') GROUP BY kind ORDER BY kind"),
      (std::vector<Row>{{"login", std::to_string(kClients * kLogins),
                         std::to_string(kClients * kLogins)},
                        {"rpc", std::to_string(kClients * kLogins * kCalls),
                         std::to_string(kClients * kLogins * kCalls)},
                        {"use", std::to_string(kClients * kLogins),
                         std::to_string(kClients * kLogins)}}));
  // Every RPC has its two parameters journaled.
  EXPECT_EQ(
      server.Query("SELECT count(*) FROM vdb_journal_params"),
      (std::vector<Row>{{std::to_string(2 * kClients * kLogins * kCalls)}}));
  EXPECT_EQ(server.Query("SELECT count(*) FROM vdb_connections"),
            (std::vector<Row>{{std::to_string(kClients * kLogins)}}));
}

}  // namespace
}  // namespace venuedb::testing
