// Reading result rows: bounded text binds, NULLs, several result sets, stopping
// early, failing fetches, and exchanges of two threads never overlapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "database_test.h"
#include "frame/exchange.h"

namespace rondel {
namespace {

class RowReadingTest : public testing::DatabaseTest {};

// "0123456789" repeated to 5,000 bytes, built by SQLite on the server.
const char kLongTextSql[] = "replace(hex(zeroblob(500)), '00', '0123456789')";

TEST_F(RowReadingTest, OverlongTextIsCutToBufferAndTheRowIsStillUsed) {
  struct {
    char before[8];
    char text[20];
    char after[8];
  } guarded;
  std::memset(&guarded, 'G', sizeof guarded);
  int32_t number = 0;
  long rows = 0;
  std::string seen;
  {
    Exchange x;
    ASSERT_TRUE(x.Sql(
        (std::string("select ") + kLongTextSql + " as t, 7 as n").c_str()));
    EXPECT_TRUE(x.ReadRows(
        {Column::Text(1, guarded.text, sizeof guarded.text),
         Column::Int(2, &number)},
        [&] {
          seen = guarded.text;
          return true;
        },
        &rows));
  }
  EXPECT_EQ(1, rows);
  EXPECT_EQ("0123456789012345678", seen);  // 19 bytes and the terminator
  EXPECT_EQ(7, number);
  EXPECT_EQ(std::string(8, 'G'), std::string(guarded.before, 8));
  EXPECT_EQ(std::string(8, 'G'), std::string(guarded.after, 8));
  // The truncation is reported by the client library and logged like any error.
  EXPECT_GE(log_.Lines().size(), 1u);
}

TEST_F(RowReadingTest, NullColumnsGiveEmptyTextAndZero) {
  char text[16];
  std::memset(text, 'Z', sizeof text);
  int32_t number = 99;
  long rows = 0;
  {
    Exchange x;
    ASSERT_TRUE(x.Sql("select NULL as t, NULL as n"));
    EXPECT_TRUE(x.ReadRows(
        {Column::Text(1, text, sizeof text), Column::Int(2, &number)},
        [] { return true; }, &rows));
  }
  EXPECT_EQ(1, rows);
  EXPECT_STREQ("", text);
  EXPECT_EQ(0, number);
}

TEST_F(RowReadingTest, EveryResultSetIsBoundAfreshAndReadToTheEnd) {
  DefineProcedure(
      "frame_two_sets", "@a int = 0",
      "SELECT 1 AS n, 'one' AS t; "
      "SELECT 2 AS n, 'two' AS t UNION ALL SELECT 3, 'three three';");
  int32_t n = 0;
  char t[8];
  std::vector<std::string> seen;
  long rows = 0;
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_two_sets", {Param::Int("@a", 0)}));
    EXPECT_TRUE(x.ReadRows(
        {Column::Int(1, &n), Column::Text(2, t, sizeof t)},
        [&] {
          seen.push_back(std::to_string(n) + ":" + t);
          return true;
        },
        &rows));
  }
  EXPECT_EQ(3, rows);
  EXPECT_EQ((std::vector<std::string>{"1:one", "2:two", "3:three t"}), seen);
}

TEST_F(RowReadingTest, TrailingEmptyResultSetKeepsTheLastRowsValues) {
  DefineProcedure("frame_trailing_empty", "@a int = 0",
                  "SELECT 'clip.mpg' AS f; SELECT 'other' AS f WHERE 0;");
  char file[16] = "";
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_trailing_empty", {}));
    EXPECT_TRUE(
        x.ReadRows({Column::Text(1, file, sizeof file)}, [] { return true; }));
  }
  EXPECT_STREQ("clip.mpg", file);
}

TEST_F(RowReadingTest, StoppingEarlyCancelsTheRestAndTheNextExchangeWorks) {
  DefineProcedure("frame_many", "@a int = 0",
                  "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                  "FROM c WHERE i < 500) "
                  "SELECT i FROM c");
  int32_t i = 0;
  long rows = 0;
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_many", {}));
    EXPECT_TRUE(x.ReadRows(
        {Column::Int(1, &i)}, [&] { return i < 3; }, &rows));
  }
  EXPECT_EQ(3, rows);
  EXPECT_EQ(3, i);
  {
    Exchange x;
    ASSERT_TRUE(x.Sql("select 5"));
    EXPECT_TRUE(x.ReadRows(
        {Column::Int(1, &i)}, [] { return true; }, &rows));
  }
  EXPECT_EQ(5, i);
}

TEST_F(RowReadingTest, BindingAMissingColumnFails) {
  int32_t a = 0, b = 0;
  long rows = 0;
  Exchange x;
  ASSERT_TRUE(x.Sql("select 1 as a"));
  EXPECT_FALSE(x.ReadRows(
      {Column::Int(1, &a), Column::Int(2, &b)}, [] { return true; }, &rows));
  EXPECT_EQ(0, rows);
}

TEST_F(RowReadingTest, ConnectionLostDuringRowsEndsTheLoopWithFalse) {
  DefineProcedure("frame_cut", "@a int = 0",
                  "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                  "FROM c WHERE i < 50) "
                  "SELECT i FROM c");
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('close_after_rows', 'frame_cut', 2)");
  int32_t i = 0;
  long rows = 0;
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_cut", {}));
    EXPECT_FALSE(x.ReadRows(
        {Column::Int(1, &i)}, [] { return true; }, &rows));
  }
  EXPECT_EQ(2, rows);
  EXPECT_EQ(2, i);
  EXPECT_GE(log_.Lines().size(), 1u);
  EXPECT_TRUE(AllConnectionsClosed());
}

TEST_F(RowReadingTest, SqlExecSendsTheTextAndRowsFollow) {
  int32_t count = -1;
  {
    Exchange x;
    EXPECT_TRUE(x.SqlExec("select count(*) from medias"));
    EXPECT_TRUE(x.ReadRows({Column::Int(1, &count)}, [] { return true; }));
  }
  EXPECT_EQ(0, count);
  auto batch = venue_.Query("SELECT text FROM vdb_journal WHERE kind='batch'");
  ASSERT_EQ(1u, batch.size());
  EXPECT_EQ("select count(*) from medias", batch[0][0]);
}

TEST_F(RowReadingTest, ReconnectOpensASecondConnectionInTheSameHold) {
  int32_t v = 0;
  {
    Exchange x(Exchange::kDeferOpen);
    EXPECT_FALSE(x.connected());
    ASSERT_TRUE(x.Reconnect());
    ASSERT_TRUE(x.Sql("select 1"));
    ASSERT_TRUE(x.Reconnect());
    ASSERT_TRUE(x.Sql("select 2"));
    EXPECT_TRUE(x.ReadRows({Column::Int(1, &v)}, [] { return true; }));
  }
  EXPECT_EQ(2, v);
  auto rows = venue_.Query("SELECT count(*) FROM vdb_connections");
  EXPECT_EQ("2", rows[0][0]);
  EXPECT_TRUE(AllConnectionsClosed());
}

// Two threads run exchanges at once. A session's activity runs from its
// acceptance to its last request; the next session may only begin after that
// (its close is noticed by the server asynchronously, so closed_us itself is no
// proof of order).
TEST_F(RowReadingTest, ExchangesOfTwoThreadsNeverOverlap) {
  DefineProcedure("frame_slow", "@a int = 0", "SELECT @a AS a");
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('delay_procedure', 'frame_slow', 20)");
  constexpr int kPerThread = 4;
  auto worker = [](int base) {
    for (int k = 0; k < kPerThread; ++k) {
      Exchange x;
      int32_t a = 0;
      if (x.Call("frame_slow", {Param::Int("@a", base + k)})) {
        x.ReadRows({Column::Int(1, &a)}, [] { return true; });
      }
    }
  };
  std::thread first(worker, 100);
  std::thread second(worker, 200);
  first.join();
  second.join();

  auto sessions = venue_.Query(
      "SELECT c.opened_us, (SELECT max(at_us) FROM vdb_journal j "
      "WHERE j.conn_id = c.conn_id AND j.kind <> 'close'), c.closed_us "
      "FROM vdb_connections c ORDER BY c.opened_us");
  ASSERT_EQ(size_t{2 * kPerThread}, sessions.size());
  for (size_t k = 0; k < sessions.size(); ++k) {
    ASSERT_TRUE(sessions[k][0] && sessions[k][1]);
    if (k == 0) continue;
    long long previous_end = std::stoll(*sessions[k - 1][1]);
    long long start = std::stoll(*sessions[k][0]);
    EXPECT_LT(previous_end, start)
        << "session " << k << " began inside session " << k - 1;
  }
  auto rpcs = venue_.Query(
      "SELECT count(*) FROM vdb_journal WHERE kind='rpc' AND ok=1");
  EXPECT_EQ(std::to_string(2 * kPerThread), rpcs[0][0]);
}

}  // namespace
}  // namespace rondel
