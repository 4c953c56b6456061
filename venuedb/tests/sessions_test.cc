// What one client cannot do to the server, to the other clients or to the
// journal (an error inside its session, leaving in the middle of a request,
// holding a transaction open), and the transactions a client may run: T-SQL
// statements through DB-Library and the TDS transaction manager's requests.
#include <gtest/gtest.h>
#include <sybdb.h>

#include <chrono>
#include <memory>
#include <thread>

#include "raw_client.h"
#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;

constexpr uint8_t kTransactionPacket = 0x0E;

class SessionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    server_.Exec(
        "CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT);"
        "INSERT INTO vdb_procedures VALUES('vt_notes', '',"
        " 'SELECT id, text FROM notes ORDER BY id;');");
  }

  // Kind, outcome and text of connection conn's requests, once its close row
  // is there (or after 10 seconds).
  std::vector<Row> JournalOf(int conn) {
    const std::string sql =
        "SELECT kind, outcome, CAST(text AS TEXT) FROM vdb_journal "
        "WHERE conn_id = " +
        std::to_string(conn) + " ORDER BY id";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      std::vector<Row> rows = server_.Query(sql);
      if ((!rows.empty() && rows.back()[0] == "close") ||
          std::chrono::steady_clock::now() > deadline) {
        return rows;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  VenueServer server_;
};

TEST_F(SessionsTest, ErrorInsideSessionEndsThatSessionOnly) {
  server_.Exec("INSERT INTO vdb_faults VALUES('raise_in_session', 'rpc', 0)");
  {
    Client c(server_.port());
    ASSERT_TRUE(c.connected());
    EXPECT_FALSE(c.Call("vt_notes", {}).ok);
    EXPECT_TRUE(dbdead(c.dbproc()));
    TakeLibraryErrors();
  }
  Client next(server_.port());
  EXPECT_TRUE(next.Batch("select 1").ok);
  EXPECT_EQ(
      JournalOf(1),
      (std::vector<Row>{{"login", "ok", ""},
                        {"rpc", "abandoned", "vt_notes"},
                        {"close", "ok", "error: raise_in_session fault"}}));
}

// A client that sends a request and leaves before its reply is complete: the
// request is journaled as abandoned and the session ends.
struct AbandonCase {
  const char* name;
  const char* setup;  // SQL run on the database first
  uint8_t packet;
  const char* request;  // batch text, or the procedure called
  const char* kind;
};

void PrintTo(const AbandonCase& c, std::ostream* os) { *os << c.name; }

class AbandonedRequestTest : public SessionsTest,
                             public ::testing::WithParamInterface<AbandonCase> {
};

TEST_P(AbandonedRequestTest, IsJournaledAndEndsTheSession) {
  const AbandonCase& c = GetParam();
  server_.Exec(c.setup);
  RawClient client(server_.port());
  ASSERT_TRUE(client.logged_in());
  ASSERT_TRUE(client.Send(c.packet, c.packet == kRpcPacket
                                        ? RpcPayload(c.request, "")
                                        : BatchPayload(c.request)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  client.Close();
  EXPECT_EQ(JournalOf(1), (std::vector<Row>{{"login", "ok", ""},
                                            {c.kind, "abandoned", c.request},
                                            {"close", "ok", ""}}));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, AbandonedRequestTest,
    ::testing::Values(
        // SQLite steps for ever without sending a byte.
        AbandonCase{"EndlessStep", "", kBatchPacket,
                    "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                    "FROM r) SELECT count(*) FROM r",
                    "batch"},
        AbandonCase{"DelayedProcedure",
                    "INSERT INTO vdb_faults "
                    "VALUES('delay_procedure', 'vt_notes', 60000)",
                    kRpcPacket, "vt_notes", "rpc"},
        // Ten megabytes: the server is still writing when the client goes.
        AbandonCase{"LongResult",
                    "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                    "FROM r WHERE i < 2000) INSERT INTO notes "
                    "SELECT i, printf('%.*c', 5000, 'n') FROM r",
                    kRpcPacket, "vt_notes", "rpc"}),
    [](const ::testing::TestParamInfo<AbandonCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(SessionsTest, OpenTransactionBlocksOnlyWritersAndOnlyForTheLockTimeout) {
  auto holder = std::make_unique<Client>(server_.port());
  ASSERT_TRUE(
      holder->Batch("begin transaction; insert into notes(id) values (1)").ok);
  auto start = std::chrono::steady_clock::now();
  Client other(server_.port());
  ASSERT_TRUE(other.connected());
  Outcome read = other.Batch("select count(*) from notes");
  Outcome write =
      other.Batch("set lock_timeout 200; insert into notes(id) values (2)");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(read.results.at(0).rows, (std::vector<Cells>{{"0"}}));
  EXPECT_FALSE(write.ok);
  ASSERT_EQ(write.messages.size(), 1u);
  EXPECT_EQ(write.messages[0].number, 1222);
  EXPECT_EQ(server_.Query("SELECT kind, outcome FROM vdb_journal "
                          "WHERE conn_id = 2 ORDER BY id"),
            (std::vector<Row>{
                {"login", "ok"}, {"batch", "ok"}, {"batch", "failed"}}));
  // The holder leaves: its insert is rolled back and the lock is free.
  holder.reset();
  JournalOf(1);
  EXPECT_TRUE(other.Batch("insert into notes(id) values (2)").ok);
  EXPECT_EQ(server_.Query("SELECT id FROM notes"), (std::vector<Row>{{"2"}}));
}

// Batches sent one after the other on one connection; the rows committed are
// counted from outside while the connection is still open.
struct TransactionCase {
  const char* name;
  std::vector<const char*> batches;
  const char* oks;  // "1" per batch that succeeded, "0" per failure
  const char* committed;
};

void PrintTo(const TransactionCase& c, std::ostream* os) { *os << c.name; }

class TransactionStatementTest
    : public SessionsTest,
      public ::testing::WithParamInterface<TransactionCase> {};

TEST_P(TransactionStatementTest, CommitsWhatSqlServerWould) {
  const TransactionCase& c = GetParam();
  Client client(server_.port());
  ASSERT_TRUE(client.connected());
  std::string oks;
  for (const char* batch : c.batches) oks += client.Batch(batch).ok ? "1" : "0";
  EXPECT_EQ(oks, c.oks);
  EXPECT_EQ(server_.Query("SELECT count(*) FROM notes"),
            (std::vector<Row>{{c.committed}}));
}

INSTANTIATE_TEST_SUITE_P(
    Statements, TransactionStatementTest,
    ::testing::Values(
        TransactionCase{
            "Commit",
            {"begin tran", "insert into notes(id) values (1)", "commit tran"},
            "111",
            "1"},
        TransactionCase{"Rollback",
                        {"BEGIN TRANSACTION",
                         "insert into notes(id) values (1)", "ROLLBACK"},
                        "111",
                        "0"},
        TransactionCase{"InnerCommitOnlyCounts",
                        {"begin tran outer_one", "begin tran",
                         "insert into notes(id) values (1)", "commit",
                         "rollback transaction"},
                        "11111",
                        "0"},
        TransactionCase{
            "CommitWhenOpen",
            {"begin transaction\ninsert into notes(id) values (1)",
             "IF @@TRANCOUNT > 0 COMMIT TRAN", "if (@@trancount > 0) commit"},
            "111",
            "1"},
        TransactionCase{
            "SavePoint",
            {"begin tran", "insert into notes(id) values (1)",
             "save tran before_two", "insert into notes(id) values (2)",
             "rollback tran before_two", "commit work"},
            "111111",
            "1"},
        TransactionCase{
            "ImplicitTransactions",
            {"set implicit_transactions on", "insert into notes(id) values (1)",
             "if @@trancount > 0 rollback", "SET IMPLICIT_TRANSACTIONS OFF",
             "insert into notes(id) values (2)"},
            "11111",
            "1"},
        TransactionCase{"CommitWithoutBegin", {"commit tran"}, "0", "0"},
        TransactionCase{
            "CommentsBetweenTheWords",
            {"begin /* the night's */ tran", "insert into notes(id) values (1)",
             "commit -- the night's\n tran"},
            "111",
            "1"}),
    [](const ::testing::TestParamInfo<TransactionCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(SessionsTest, TransactionManagerRequestsBeginCommitAndRollBack) {
  RawClient c(server_.port());
  ASSERT_TRUE(c.logged_in());
  auto send = [&c](uint8_t packet, const std::string& payload) {
    c.Send(packet, payload);
    return c.Receive().value_or("");
  };
  // ALL_HEADERS (no transaction yet), then the request.
  auto request = [&](const std::string& hex) {
    return send(
        kTransactionPacket,
        Hex("16000000 12000000 0200 0000000000000000 01000000") + Hex(hex));
  };
  std::string begin = request("0500 00 00");  // TM_BEGIN_XACT
  send(kBatchPacket, BatchPayload("insert into notes(id) values (1)"));
  std::string commit = request("0700 00 00");  // TM_COMMIT_XACT
  std::string again = request("0500 00 00");
  send(kBatchPacket, BatchPayload("insert into notes(id) values (2)"));
  std::string rollback = request("0800 00 00");  // TM_ROLLBACK_XACT
  std::string dtc = request("0000");             // TM_GET_DTC_ADDRESS
  EXPECT_EQ(DescribeReply(begin) + " | " + DescribeReply(commit) + " | " +
                DescribeReply(again) + " | " + DescribeReply(rollback) + " | " +
                DescribeReply(dtc),
            "ENV 8; DONE 0x0000 0 | ENV 9; DONE 0x0000 0 | ENV 8; DONE 0x0000 "
            "0 | ENV 10; DONE 0x0000 0 | ERROR 8501; DONE 0x0002 0");
  // ENVCHANGE 8 carries the new descriptor as its new value, 9 and 10 the
  // ended one as their old value.
  EXPECT_EQ(commit.substr(6, 8), begin.substr(5, 8));
  EXPECT_EQ(rollback.substr(6, 8), again.substr(5, 8));
  EXPECT_NE(again.substr(5, 8), begin.substr(5, 8));
  EXPECT_EQ(server_.Query("SELECT id FROM notes"), (std::vector<Row>{{"1"}}));
}

TEST_F(SessionsTest, StatementCountsAreTheStatementsOwn) {
  RawClient c(server_.port());
  ASSERT_TRUE(c.logged_in());
  std::string replies;
  for (const char* sql :
       {"insert into notes(id) values (1), (2), (3)", "create table more(x)",
        "update notes set text = 'x'", "drop table more",
        "delete from notes where id = 1"}) {
    c.Send(kBatchPacket, BatchPayload(sql));
    replies += DescribeReply(c.Receive().value_or("")) + " | ";
  }
  EXPECT_EQ(replies,
            "DONE 0x0010 3 | DONE 0x0000 0 | DONE 0x0010 3 | DONE 0x0000 0 | "
            "DONE 0x0010 1 | ");
}

}  // namespace
}  // namespace venuedb::testing
