// Session-local #tables and the "drop it if it is there" idiom, as a client
// written for SQL Server sends them: a #table lives in its session only, and
// a '#' in quoted text or a comment is left as written.
#include <gtest/gtest.h>

#include "raw_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::VenueServer;

struct TempCase {
  const char* name;
  const char* before;  // a batch run first in the same session, or ""
  const char* sql;
  const char* reply;  // DescribeReply(..., detailed) of sql's reply
};

void PrintTo(const TempCase& c, std::ostream* os) { *os << c.name; }

const TempCase kCases[] = {
    {"CreatedFilledRead", "create table #t (i int, s varchar(8))",
     "insert into #t values(1, 'a') select i, s from #t",
     "DONE 0x0011 1; COLS i INTN(4),s BIGVARCHAR(8); ROW 1,a; DONE 0x0010 1"},
    {"SelectIntoMakesOne", "create table #t (i int) insert into #t values(2)",
     "select i into #u from #t where i > 0 select i from #u",
     "DONE 0x0001 0; COLS i INTN(4); ROW 2; DONE 0x0010 1"},
    {"ObjectIdDropsExisting", "create table #t (i int)",
     "if object_id('#t') is not null drop table #t select i from #t",
     "DONE 0x0001 0; ERROR 208 16 Invalid object name '#t'.; DONE 0x0002 0"},
    {"ObjectIdSkipsMissing", "",
     "IF OBJECT_ID('t_missing') IS NOT NULL DROP TABLE t_missing select 1 as a",
     "DONE 0x0001 0; COLS a INTN(4); ROW 1; DONE 0x0010 1"},
    {"SysobjectsDropsExisting", "create table #t (i int)",
     "if exists ( select 1 from tempdb..sysobjects where id = "
     "object_id('tempdb..#t') )\n\tdrop table #t\nselect i from #t",
     "DONE 0x0001 0; ERROR 208 16 Invalid object name '#t'.; DONE 0x0002 0"},
    {"SysobjectsSkipsMissing", "",
     "if exists (select 1 from sysobjects where type = 'U' and name = "
     "'t_missing') drop table t_missing select 1 as a",
     "DONE 0x0001 0; COLS a INTN(4); ROW 1; DONE 0x0010 1"},
    {"ProcedureDropped",
     "if object_id('vt_gone') is not null drop proc vt_gone", "exec vt_gone",
     "ERROR 2812 16 Could not find stored procedure 'vt_gone'.; DONE 0x0002 0"},
    {"OtherNameLeftAsWritten", "",
     "if object_id('t_one') is not null drop table t_other",
     "ERROR 156 15 Incorrect syntax near the keyword 'if'.; DONE 0x0002 0"},
    {"HashInQuotesAndCommentsKept", "",
     "select '#t' as a /* #t */ -- #t\n, 'x' as \"#b\"",
     "COLS a BIGVARCHAR(8000),#b BIGVARCHAR(8000); ROW #t,x; DONE 0x0010 1"},
};

class TempTablesTest : public ::testing::TestWithParam<TempCase> {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    server_.Exec(
        "INSERT INTO vdb_procedures VALUES('vt_gone', '', 'SELECT 1 AS a;');");
  }

  static std::string Run(RawClient* c, const std::string& sql) {
    if (!c->Send(kBatchPacket, BatchPayload(sql))) return "not sent";
    std::optional<std::string> reply = c->Receive();
    return reply ? DescribeReply(*reply, true) : "closed";
  }

  VenueServer server_;
};

TEST_P(TempTablesTest, RepliesAsSqlServer) {
  RawClient c(server_.port());
  ASSERT_TRUE(c.logged_in());
  if (*GetParam().before) Run(&c, GetParam().before);
  EXPECT_EQ(Run(&c, GetParam().sql), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(TempTables, TempTablesTest,
                         ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TempCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(TempTablesTest, InvisibleToOtherSessions) {
  RawClient a(server_.port()), b(server_.port());
  ASSERT_TRUE(a.logged_in() && b.logged_in());
  Run(&a, "create table #t (i int) insert into #t values(1)");
  EXPECT_EQ(Run(&b, "select i from #t"),
            "ERROR 208 16 Invalid object name '#t'.; DONE 0x0002 0");
  EXPECT_EQ(Run(&b, "create table #t (i int) select count(*) as n from #t"),
            "DONE 0x0001 0; COLS n INTN(4); ROW 0; DONE 0x0010 1");
  EXPECT_EQ(Run(&a, "select i from #t"),
            "COLS i INTN(4); ROW 1; DONE 0x0010 1");
}

}  // namespace
}  // namespace venuedb::testing
