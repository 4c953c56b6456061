// Faults switched on through vdb_faults while the server runs: refused logins,
// failing and slow procedures, and a connection that closes in the middle of a
// result.
#include <gtest/gtest.h>
#include <sybdb.h>

#include <chrono>

#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    server_.Exec(
        "CREATE TABLE rooms_t(id INTEGER PRIMARY KEY, name TEXT);"
        "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE "
        "i < 600)"
        "  INSERT INTO rooms_t SELECT i, 'room ' || i FROM r;"
        "INSERT INTO vdb_procedures VALUES('vt_rooms', '@code int = 0 OUTPUT',"
        " 'SELECT id, name FROM rooms_t ORDER BY id; SELECT 11 AS "
        "\"@code\";');");
  }

  VenueServer server_;
};

TEST_F(FaultsTest, RefuseLoginForOneUserOrAll) {
  server_.Exec("INSERT INTO vdb_logins(name, password) VALUES('clerk', 'pw')");
  server_.Exec("INSERT INTO vdb_faults VALUES('refuse_login', 'SA', 0)");
  {
    Client sa(server_.port());
    EXPECT_FALSE(sa.connected());
    Client clerk(server_.port(), "clerk", "pw");
    EXPECT_TRUE(clerk.connected());
  }
  server_.Exec("UPDATE vdb_faults SET target='*'");
  Client clerk(server_.port(), "clerk", "pw");
  EXPECT_FALSE(clerk.connected());
  server_.Exec("DELETE FROM vdb_faults");
  Client again(server_.port());
  EXPECT_TRUE(again.connected());
  auto refused = server_.Query(
      "SELECT login, refused FROM vdb_connections ORDER BY conn_id");
  EXPECT_EQ(refused,
            (std::vector<Row>{
                {"sa", "1"}, {"clerk", "0"}, {"clerk", "1"}, {"sa", "0"}}));
}

TEST_F(FaultsTest, FailProcedureRaisesChosenErrorWithoutRunningBody) {
  server_.Exec(
      "INSERT INTO vdb_faults VALUES('fail_procedure', 'VT_ROOMS', 1205)");
  Client c(server_.port());
  Outcome failed = c.Call("vt_rooms", {IntParam("@code", 0, true)});
  EXPECT_FALSE(failed.ok);
  EXPECT_TRUE(failed.results.empty());
  ASSERT_FALSE(failed.messages.empty());
  EXPECT_EQ(failed.messages[0].number, 1205);
  EXPECT_EQ(failed.return_status, -6);
  EXPECT_TRUE(failed.returns.empty());
  server_.Exec("UPDATE vdb_faults SET value=0");
  Outcome default_number = c.Call("vt_rooms", {});
  ASSERT_FALSE(default_number.messages.empty());
  EXPECT_EQ(default_number.messages[0].number, 50000);
  server_.Exec("DELETE FROM vdb_faults");
  Outcome fine = c.Call("vt_rooms", {IntParam("@code", 0, true)});
  ASSERT_TRUE(fine.ok);
  EXPECT_EQ(fine.results[0].rows.size(), 600u);
  ASSERT_EQ(fine.returns.size(), 1u);
  EXPECT_EQ(fine.returns[0].value, "11");
}

TEST_F(FaultsTest, DelayProcedureWaitsBeforeAnswering) {
  server_.Exec(
      "INSERT INTO vdb_faults VALUES('delay_procedure', 'vt_rooms', 300)");
  Client c(server_.port());
  auto start = std::chrono::steady_clock::now();
  Outcome out = c.Call("vt_rooms", {});
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.results[0].rows.size(), 600u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
}

TEST_F(FaultsTest, CancelDuringDelayIsAcknowledged) {
  server_.Exec("INSERT INTO vdb_faults VALUES('delay_procedure', '*', 60000)");
  Client c(server_.port());
  DBPROCESS* p = c.dbproc();
  ASSERT_EQ(dbrpcinit(p, const_cast<char*>("vt_rooms"), 0), SUCCEED);
  ASSERT_EQ(dbrpcsend(p), SUCCEED);
  EXPECT_EQ(dbcancel(p), SUCCEED);
  server_.Exec("DELETE FROM vdb_faults");
  Outcome after = c.Batch("select count(*) from rooms_t");
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.results[0].rows, (std::vector<Cells>{{"600"}}));
}

TEST_F(FaultsTest, CloseAfterRowsCutsConnectionMidResult) {
  server_.Exec(
      "INSERT INTO vdb_faults VALUES('close_after_rows', 'vt_rooms', 250)");
  Client c(server_.port());
  DBPROCESS* p = c.dbproc();
  ASSERT_EQ(dbrpcinit(p, const_cast<char*>("vt_rooms"), 0), SUCCEED);
  ASSERT_EQ(dbrpcsend(p), SUCCEED);
  ASSERT_EQ(dbsqlok(p), SUCCEED);
  ASSERT_EQ(dbresults(p), SUCCEED);
  int rows = 0;
  STATUS s;
  while ((s = dbnextrow(p)) != NO_MORE_ROWS && s != FAIL) ++rows;
  EXPECT_EQ(rows, 250);
  EXPECT_EQ(s, FAIL);
  EXPECT_TRUE(dbdead(p));
  TakeLibraryErrors();
  auto closes = server_.Query(
      "SELECT kind, text FROM vdb_journal WHERE kind IN ('rpc', 'close') ORDER "
      "BY id");
  EXPECT_EQ(closes, (std::vector<Row>{{"rpc", "vt_rooms"},
                                      {"close", "close_after_rows"}}));
  // Batches are cut only by a '*' fault; a new connection works.
  Client next(server_.port());
  Outcome batch = next.Batch("select id from rooms_t");
  ASSERT_TRUE(batch.ok);
  EXPECT_EQ(batch.results[0].rows.size(), 600u);
  server_.Exec("UPDATE vdb_faults SET target='*', value=10");
  Outcome cut = next.Batch("select id from rooms_t");
  EXPECT_FALSE(cut.ok);
  EXPECT_TRUE(dbdead(next.dbproc()));
}

TEST_F(FaultsTest, LongValuesAndSurplusRowsComeFromData) {
  // A 5,000-byte name travels whole; the client binds it to its own buffer
  // size.
  server_.Exec(
      "UPDATE rooms_t SET name = printf('%.*c', 5000, 'N') WHERE id = 1");
  Client c(server_.port());
  Outcome out = c.Batch("select name from rooms_t where id = 1");
  ASSERT_TRUE(out.ok);
  ASSERT_TRUE(out.results[0].rows[0][0].has_value());
  EXPECT_EQ(*out.results[0].rows[0][0], std::string(5000, 'N'));
}

}  // namespace
}  // namespace venuedb::testing
