// What a FreeTDS DB-Library client sees of venuedb: logins, database selection,
// batches, procedure calls with outputs and return status, NULLs, Chinese texts
// in code page 936, and what the journal records of each request.
#include <gtest/gtest.h>
#include <sybdb.h>

#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::VenueServer;

// Bytes of a Chinese name in code page 936 that are not valid UTF-8.
const std::string kGbkName = "\xD6\xDC\xBD\xDC\xC2\xD7";

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    // A procedure of the documented shape: text and integer inputs, three
    // outputs.
    server_.Exec(R"sql(
      CREATE TABLE notes(id INTEGER PRIMARY KEY, room TEXT, amount INTEGER);
      INSERT OR REPLACE INTO vdb_procedures VALUES('vt_addnote',
        '@room varchar(20) = NULL
         @amount int = 5
         @note_id int = 0 OUTPUT
         @echo varchar(200) = ''none'' OUTPUT
         @twice int = 0 OUTPUT',
        'INSERT INTO notes(room, amount) VALUES(@room, @amount);
         SELECT last_insert_rowid() AS "@note_id", @room AS "@echo", @amount * 2 AS "@twice",
                7 AS "@@return";
         SELECT id, room, amount FROM notes ORDER BY id;');
    )sql");
  }

  VenueServer server_;
};

TEST_F(ProtocolTest, LoginWithWrongPasswordIsRefusedAndJournaled) {
  Client bad(server_.port(), "sa", "wrong");
  EXPECT_FALSE(bad.connected());
  bool saw_18456 = false;
  for (const ServerMessage& m : bad.login_messages())
    saw_18456 |= m.number == 18456;
  EXPECT_TRUE(saw_18456);
  Client good(server_.port());
  ASSERT_TRUE(good.connected());
  auto rows = server_.Query(
      "SELECT login, password, refused FROM vdb_connections ORDER BY conn_id");
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "sa");
  EXPECT_EQ(rows[0][1], "wrong");
  EXPECT_EQ(rows[0][2], "1");
  EXPECT_EQ(rows[1][2], "0");
  auto journal = server_.Query(
      "SELECT ok FROM vdb_journal WHERE kind='login' ORDER BY id");
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0][0], "0");
  EXPECT_EQ(journal[1][0], "1");
}

TEST_F(ProtocolTest, GbkLoginNamesArriveByteForByte) {
  // "\xD6\xDC" and "\xBD\xDC\xC2\xD7" are code page 936 characters; the
  // client sends them as UTF-16 and the server must store its own bytes.
  const std::string user = "\xD6\xDC";
  const std::string password = "\xBD\xDC\xC2\xD7";
  server_.Exec("INSERT INTO vdb_logins (name, password) VALUES('" + user +
               "', '" + password + "')");
  Client c(server_.port(), user, password, "GB18030");
  ASSERT_TRUE(c.connected());
  auto rows = server_.Query(
      "SELECT hex(login), hex(password), refused FROM vdb_connections");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (rondel::testing::Row{"D6DC", "BDDCC2D7", "0"}));
}

TEST_F(ProtocolTest, UnknownUserIsRefused) {
  Client nobody(server_.port(), "nobody", "");
  EXPECT_FALSE(nobody.connected());
}

TEST_F(ProtocolTest, UseSelectsKnownDatabasesOnly) {
  Client c(server_.port());
  ASSERT_TRUE(c.connected());
  EXPECT_FALSE(c.Use("nosuchdb"));
  bool saw_911 = false;
  for (const ServerMessage& m : TakeMessages()) saw_911 |= m.number == 911;
  EXPECT_TRUE(saw_911);
  // The connection still works after the failure, and a known name (any case)
  // is taken.
  EXPECT_TRUE(c.Use("KARAOK"));
  EXPECT_STREQ(dbname(c.dbproc()), "karaok");
  Outcome after = c.Batch("select count(*) from medias");
  EXPECT_TRUE(after.ok);
  auto conn = server_.Query("SELECT database FROM vdb_connections");
  ASSERT_EQ(conn.size(), 1u);
  EXPECT_EQ(conn[0][0], "karaok");
  auto uses = server_.Query(
      "SELECT text, ok FROM vdb_journal WHERE kind='use' ORDER BY id");
  ASSERT_EQ(uses.size(), 2u);
  EXPECT_EQ(uses[0][0], "nosuchdb");
  EXPECT_EQ(uses[0][1], "0");
  EXPECT_EQ(uses[1][1], "1");
}

TEST_F(ProtocolTest, DatabaseInLoginPacketIsSelected) {
  Client c(server_.port(), "sa", "", "", "karaok");
  ASSERT_TRUE(c.connected());
  EXPECT_STREQ(dbname(c.dbproc()), "karaok");
  Client wrong(server_.port(), "sa", "", "", "nosuchdb");
  EXPECT_FALSE(wrong.connected());
}

TEST_F(ProtocolTest, LibraryQueriesRunAsTheyStand) {
  server_.Exec(
      "INSERT INTO configures(Configure_ID, Configure_Set01) VALUES(1, 4);"
      "INSERT INTO MediaUserSet(MediaUserSet_MediaId, MediaUserSet_Shunxu) "
      "VALUES(30, 2), (20, 1);");
  Client c(server_.port());
  ASSERT_TRUE(c.Use("karaok"));
  Outcome count = c.Batch("select count(*) from medias");
  ASSERT_TRUE(count.ok);
  ASSERT_EQ(count.results.size(), 1u);
  EXPECT_EQ(count.results[0].rows, (std::vector<Cells>{{"0"}}));
  EXPECT_EQ(count.results[0].types[0], SYBINT4);
  Outcome play_type = c.Batch(
      "select Configure_Set01 as PlayType from configures where "
      "Configure_ID=1");
  ASSERT_TRUE(play_type.ok);
  EXPECT_EQ(play_type.results[0].columns[0], "PlayType");
  EXPECT_EQ(play_type.results[0].rows, (std::vector<Cells>{{"4"}}));
  Outcome order = c.Batch(
      "select MediaUserSet_MediaId from MediaUserSet order by "
      "MediaUserSet_Shunxu");
  ASSERT_TRUE(order.ok);
  EXPECT_EQ(order.results[0].rows, (std::vector<Cells>{{"20"}, {"30"}}));
  Outcome servers = c.Batch(
      "select fileservers.fileserver_id, fileservers.fileserver_name, "
      "fileserver_IpAddress "
      "from fileservers");
  ASSERT_TRUE(servers.ok);
  EXPECT_EQ(servers.results[0].columns.size(), 3u);
}

TEST_F(ProtocolTest, ResultColumnsAreTypedFromFirstRow) {
  Client c(server_.port());
  Outcome out = c.Batch(
      "select 1 as small, 5000000000 as big, 2.5 as real, 'x' as text, null as "
      "empty");
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.results.size(), 1u);
  const ResultSet& r = out.results[0];
  EXPECT_EQ(r.types,
            (std::vector<int>{SYBINT4, SYBINT8, SYBFLT8, SYBCHAR, SYBCHAR}));
  EXPECT_EQ(r.rows[0],
            (Cells{"1", "5000000000", "2.500000", "x", std::nullopt}));
  // A later row is converted to the first row's type.
  Outcome mixed =
      c.Batch("select 1 as v union all select '12' order by 1 desc");
  ASSERT_TRUE(mixed.ok);
  EXPECT_EQ(mixed.results[0].types[0], SYBCHAR);
}

TEST_F(ProtocolTest, SeveralStatementsInOneBatchGiveSeveralResults) {
  Client c(server_.port());
  Outcome out = c.Batch(
      "SET NOCOUNT ON; create temp table t(a); insert into t values(1),(2);"
      " select a from t; select count(*) from t");
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.results.size(), 2u);
  EXPECT_EQ(out.results[0].rows.size(), 2u);
  EXPECT_EQ(out.results[1].rows, (std::vector<Cells>{{"2"}}));
}

TEST_F(ProtocolTest, FailingBatchReportsErrorAndConnectionGoesOn) {
  Client c(server_.port());
  Outcome out = c.Batch("select * from no_such_table");
  EXPECT_FALSE(out.ok);
  ASSERT_FALSE(out.messages.empty());
  EXPECT_EQ(out.messages[0].number, 208);
  Outcome after = c.Batch("select 3");
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.results[0].rows, (std::vector<Cells>{{"3"}}));
  auto journal = server_.Query(
      "SELECT kind, ok FROM vdb_journal WHERE kind='batch' ORDER BY id");
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0][1], "0");
  EXPECT_EQ(journal[1][1], "1");
}

TEST_F(ProtocolTest, ProcedureReturnsOutputsStatusAndRows) {
  Client c(server_.port());
  ASSERT_TRUE(c.Use("karaok"));
  Outcome out = c.Call(
      "vt_addnote",
      {TextParam("@room", "10.0.0.9"), IntParam("@amount", 21),
       IntParam("@note_id", 0, true), TextParam("@echo", std::nullopt, true),
       IntParam("@twice", -1, true)});
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.results.size(), 1u);
  EXPECT_EQ(out.results[0].rows, (std::vector<Cells>{{"1", "10.0.0.9", "21"}}));
  ASSERT_TRUE(out.return_status.has_value());
  EXPECT_EQ(*out.return_status, 7);
  ASSERT_EQ(out.returns.size(), 3u);
  EXPECT_EQ(out.returns[0].name, "@note_id");
  EXPECT_EQ(out.returns[0].value, "1");
  EXPECT_EQ(out.returns[1].name, "@echo");
  EXPECT_EQ(out.returns[1].value, "10.0.0.9");
  EXPECT_EQ(out.returns[2].name, "@twice");
  EXPECT_EQ(out.returns[2].value, "42");
  // A second call on the same connection.
  Outcome again = c.Call("VT_ADDNOTE", {IntParam("@NOTE_ID", 0, true)});
  ASSERT_TRUE(again.ok);
  ASSERT_EQ(again.returns.size(), 1u);
  EXPECT_EQ(again.returns[0].value, "2");
}

TEST_F(ProtocolTest, NullsTravelBothWays) {
  Client c(server_.port());
  Outcome out = c.Call("vt_addnote", {TextParam("@room", std::nullopt),
                                      IntParam("@amount", std::nullopt),
                                      TextParam("@echo", "was set", true)});
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.results[0].rows,
            (std::vector<Cells>{{"1", std::nullopt, std::nullopt}}));
  ASSERT_EQ(out.returns.size(), 1u);
  EXPECT_EQ(out.returns[0].value, std::nullopt);
  auto stored = server_.Query("SELECT room IS NULL, amount IS NULL FROM notes");
  EXPECT_EQ(stored, (std::vector<rondel::testing::Row>{{"1", "1"}}));
}

TEST_F(ProtocolTest, DefaultsApplyToParametersNotSent) {
  Client c(server_.port());
  Outcome out = c.Call("vt_addnote", {TextParam("@echo", "x", true)});
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.results[0].rows[0][2], "5");
  EXPECT_EQ(out.returns[0].value,
            std::nullopt);  // @room defaulted to NULL, echoed
}

TEST_F(ProtocolTest, UnknownProcedureAndParameterAreErrors) {
  Client c(server_.port());
  Outcome missing = c.Call("sp_nosuch", {});
  EXPECT_FALSE(missing.ok);
  ASSERT_FALSE(missing.messages.empty());
  EXPECT_EQ(missing.messages[0].number, 2812);
  EXPECT_EQ(missing.messages[0].text,
            "Could not find stored procedure 'sp_nosuch'.");
  Outcome undeclared = c.Call("vt_addnote", {IntParam("@nosuch", 1)});
  EXPECT_FALSE(undeclared.ok);
  ASSERT_FALSE(undeclared.messages.empty());
  EXPECT_EQ(undeclared.messages[0].number, 8145);
  EXPECT_NE(undeclared.messages[0].text.find("has no parameter named @nosuch"),
            std::string::npos);
  EXPECT_TRUE(server_.Query("SELECT * FROM notes").empty());
  Outcome after = c.Call("vt_addnote", {IntParam("@note_id", 0, true)});
  EXPECT_TRUE(after.ok);
}

TEST_F(ProtocolTest, FailingBodyGivesErrorAndStatusMinusSix) {
  server_.Exec(
      "INSERT INTO vdb_procedures VALUES('vt_broken', '@x int = 0 OUTPUT',"
      " 'SELECT 5 AS \"@x\"; SELECT * FROM no_such_table;')");
  Client c(server_.port());
  Outcome out = c.Call("vt_broken", {IntParam("@x", 1, true)});
  EXPECT_FALSE(out.ok);
  ASSERT_FALSE(out.messages.empty());
  EXPECT_EQ(out.messages[0].number, 50000);
  EXPECT_NE(out.messages[0].text.find("no such table"), std::string::npos);
  ASSERT_TRUE(out.return_status.has_value());
  EXPECT_EQ(*out.return_status, -6);
  EXPECT_TRUE(c.Batch("select 1").ok);
}

TEST_F(ProtocolTest, RaisedErrorEndsProcedure) {
  server_.Exec(
      "INSERT INTO vdb_procedures VALUES('vt_raise', '@x int = 0',"
      " 'SELECT ''bad x '' || @x AS \"@@error\" WHERE @x < 0;"
      "  SELECT @x AS x;')");
  Client c(server_.port());
  Outcome fine = c.Call("vt_raise", {IntParam("@x", 3)});
  ASSERT_TRUE(fine.ok);
  EXPECT_EQ(fine.results[0].rows, (std::vector<Cells>{{"3"}}));
  Outcome raised = c.Call("vt_raise", {IntParam("@x", -2)});
  EXPECT_FALSE(raised.ok);
  EXPECT_TRUE(raised.results.empty());
  ASSERT_FALSE(raised.messages.empty());
  EXPECT_EQ(raised.messages[0].number, 50000);
  EXPECT_EQ(raised.messages[0].text, "bad x -2");
  auto journal = server_.Query(
      "SELECT text, ok FROM vdb_journal WHERE kind='rpc' ORDER BY id");
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[1][0], "vt_raise");
  EXPECT_EQ(journal[1][1], "0");
}

TEST_F(ProtocolTest, JournalRecordsRpcParametersInWireOrder) {
  Client c(server_.port(), "sa", "", "GB18030");
  std::string long_text(4001, 'L');  // longer than 4000 goes as BIGVARCHAR
  Outcome out = c.Call(
      "vt_addnote",
      {TextParam("@room", kGbkName), IntParam("@amount", -3),
       IntParam("@note_id", 9, true), TextParam("@echo", std::nullopt, true),
       IntParam("@twice", std::nullopt, true)});
  ASSERT_TRUE(out.ok);
  auto rows = server_.Query(
      "SELECT p.ordinal, p.name, p.type, p.type_code, p.output, p.max_length, "
      "p.is_null, "
      "p.value FROM vdb_journal j JOIN vdb_journal_params p ON p.journal_id = "
      "j.id "
      "WHERE j.kind='rpc' AND j.text='vt_addnote' ORDER BY p.ordinal");
  ASSERT_EQ(rows.size(), 5u);
  using R = rondel::testing::Row;
  EXPECT_EQ(rows[0],
            (R{"1", "@room", "varchar", "231", "0", "12", "0", kGbkName}));
  EXPECT_EQ(rows[1], (R{"2", "@amount", "int", "38", "0", "4", "0", "-3"}));
  EXPECT_EQ(rows[2], (R{"3", "@note_id", "int", "38", "1", "4", "0", "9"}));
  EXPECT_EQ(rows[3],
            (R{"4", "@echo", "varchar", "231", "1", "400", "1", std::nullopt}));
  EXPECT_EQ(rows[4],
            (R{"5", "@twice", "int", "38", "1", "4", "1", std::nullopt}));
  auto journal =
      server_.Query("SELECT login, ok FROM vdb_journal WHERE kind='rpc'");
  EXPECT_EQ(journal, (std::vector<R>{{"sa", "1"}}));

  Outcome big = c.Call("vt_addnote", {TextParam("@room", long_text)});
  ASSERT_TRUE(big.ok);
  auto big_rows = server_.Query(
      "SELECT p.type, p.type_code, p.max_length, length(p.value) FROM "
      "vdb_journal j "
      "JOIN vdb_journal_params p ON p.journal_id = j.id WHERE j.id = (SELECT "
      "max(id) FROM "
      "vdb_journal WHERE kind='rpc')");
  EXPECT_EQ(big_rows, (std::vector<R>{{"varchar", "167", "4001", "4001"}}));
}

TEST_F(ProtocolTest, GbkBytesSurviveBothWaysWithGb18030Client) {
  server_.Exec(
      "CREATE TABLE names(n TEXT); INSERT INTO names "
      "VALUES(CAST(X'D6DCBDDCC2D7' AS TEXT));");
  Client c(server_.port(), "sa", "", "GB18030");
  ASSERT_TRUE(c.connected());
  // Out: stored bytes arrive unchanged.
  Outcome read = c.Batch("select n from names");
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.results[0].rows[0][0], kGbkName);
  // In through a parameter (NVARCHAR on the wire) and back through an output.
  Outcome call = c.Call("vt_addnote", {TextParam("@room", kGbkName),
                                       TextParam("@echo", std::nullopt, true)});
  ASSERT_TRUE(call.ok);
  EXPECT_EQ(call.returns[0].value, kGbkName);
  EXPECT_EQ(server_.Query("SELECT hex(room) FROM notes"),
            (std::vector<rondel::testing::Row>{{"D6DCBDDCC2D7"}}));
  // In through SQL text.
  Outcome insert = c.Batch("insert into names values('" + kGbkName + "')");
  ASSERT_TRUE(insert.ok);
  EXPECT_EQ(
      server_.Query("SELECT count(*) FROM names WHERE hex(n) = 'D6DCBDDCC2D7'"),
      (std::vector<rondel::testing::Row>{{"2"}}));
  auto batch = server_.Query(
      "SELECT hex(text) FROM vdb_journal WHERE kind='batch' AND text LIKE "
      "'insert%'");
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(
      batch[0][0],
      "696E7365727420696E746F206E616D65732076616C7565732827D6DCBDDCC2D72729");
}

TEST_F(ProtocolTest, ExecInBatchRunsProcedure) {
  Client c(server_.port());
  Outcome out = c.Batch("exec vt_addnote @room = 'r1', @amount = 4");
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.results.size(), 1u);
  EXPECT_EQ(out.results[0].rows, (std::vector<Cells>{{"1", "r1", "4"}}));
  EXPECT_EQ(out.return_status, 7);
}

TEST_F(ProtocolTest, ConnectionRowRecordsLoginDetailsAndClose) {
  {
    Client c(server_.port());
    ASSERT_TRUE(c.connected());
  }
  // The close is recorded by the server after the client has gone.
  std::vector<rondel::testing::Row> rows;
  for (int i = 0; i < 500; ++i) {
    rows = server_.Query(
        "SELECT login, app, tds_version, packet_size, database, closed_us IS "
        "NOT NULL, "
        "closed_us >= opened_us FROM vdb_connections");
    if (!rows.empty() && rows[0][5] == "1") break;
    usleep(10000);
  }
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (rondel::testing::Row{"sa", "venuedb-test", "7.4", "4096",
                                           "master", "1", "1"}));
}

TEST_F(ProtocolTest, FailedExecInBatchGoesOnWithNextStatement) {
  Client c(server_.port());
  Outcome out = c.Batch("exec sp_nosuch\nselect 5");
  ASSERT_FALSE(out.messages.empty());
  EXPECT_EQ(out.messages[0].number, 2812);
  EXPECT_EQ(server_.Query("SELECT ok FROM vdb_journal WHERE kind='batch'"),
            (std::vector<rondel::testing::Row>{{"0"}}));
  Outcome after = c.Batch("select 6");
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.results[0].rows, (std::vector<Cells>{{"6"}}));
}

}  // namespace
}  // namespace venuedb::testing
