// How a SQL batch reads as SQL Server reads it, seen by a bare TDS client:
// statements that follow SET or EXEC on the same line run in order, FMTONLY
// and NOCOUNT are honoured, a table's columns travel with their declared
// types, lengths, nullability and padding, and the common errors carry SQL
// Server's numbers, classes and texts.
#include <gtest/gtest.h>

#include "raw_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::VenueServer;

struct BatchCase {
  const char* name;
  const char* sql;
  const char* reply;  // DescribeReply(..., detailed)
};

void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

const BatchCase kCases[] = {
    // SET and the statements after it.
    {"FmtOnlySendsColumnsWithoutRows",
     "SET FMTONLY ON select * from seats SET FMTONLY OFF",
     "DONE 0x0001 0; COLS label BIGCHAR(10) NN,note BIGVARCHAR(5),"
     "row_no INT4 NN,guests INTN(4),total INT8 NN,ratio FLTN(8),"
     "small INT2 NN,tiny INT1 NN; DONE 0x0001 0; DONE 0x0000 0"},
    {"FmtOnlyRunsNoWrite",
     "set fmtonly on insert into seats(label, row_no, total, small, tiny) "
     "values('b', 2, 3, 4, 5) set fmtonly off select count(*) as k from seats",
     "DONE 0x0001 0; DONE 0x0001 0; DONE 0x0001 0; COLS k INTN(4); ROW 1; "
     "DONE 0x0010 1"},
    {"NoCountLeavesCountsOut", "set nocount on select 1 as a",
     "DONE 0x0001 0; COLS a INTN(4); ROW 1; DONE 0x0000 0"},
    {"ValuedAndListedOptionsEndWhereTheirValueDoes",
     "set textsize 2147483647 set ansi_nulls, quoted_identifier on "
     "set transaction isolation level read committed select 2 as a",
     "DONE 0x0001 0; DONE 0x0001 0; DONE 0x0001 0; COLS a INTN(4); ROW 2; "
     "DONE 0x0010 1"},
    {"SwitchWithoutOnOrOffIsSyntaxError", "set nocount maybe select 1",
     "ERROR 102 15 Incorrect syntax near 'maybe'.; DONE 0x0002 0"},
    {"SetVariableNeedsDeclaration", "set @x = 1",
     "ERROR 137 15 Must declare the scalar variable \"@x\".; DONE 0x0002 0"},
    {"ProcedureRefusedUnderFmtOnly", "set fmtonly on exec vt_twice 1",
     "DONE 0x0001 0; ERROR 50000 16 venuedb does not run procedures while "
     "FMTONLY is ON: set FMTONLY OFF first.; DONE 0x0002 0"},
    // EXEC and the statements after it.
    {"ExecArgumentsEndBeforeNextStatement", "exec vt_twice 17 select 5 as e",
     "STATUS 34; DONEPROC 0x0001 0; COLS e INTN(4); ROW 5; DONE 0x0010 1"},
    {"ExecAfterNamedArgument", "exec vt_twice @b = 18 exec vt_twice 19",
     "STATUS 36; DONEPROC 0x0001 0; STATUS 38; DONEPROC 0x0000 0"},
    {"ExecWithoutArgumentsBeforeNextStatement",
     "execute vt_twice select 6 as e",
     "STATUS 0; DONEPROC 0x0001 0; COLS e INTN(4); ROW 6; DONE 0x0010 1"},
    {"ExecArgumentListAndOutputKeyword",
     "exec vt_twice @b = 3 output exec vt_twice default select 7 as e",
     "STATUS 6; DONEPROC 0x0001 0; STATUS 0; DONEPROC 0x0001 0; "
     "COLS e INTN(4); ROW 7; DONE 0x0010 1"},
    // Declared columns.
    {"DeclaredTypesLengthsNullabilityPadding",
     "select label, note, row_no, guests, total, ratio, small, tiny from seats",
     "COLS label BIGCHAR(10) NN,note BIGVARCHAR(5),row_no INT4 NN,"
     "guests INTN(4),total INT8 NN,ratio FLTN(8),small INT2 NN,tiny INT1 NN; "
     "NBCROW abcdef    ,xy,7,NULL,5000000000,NULL,-3,200; DONE 0x0010 1"},
    {"OuterJoinMakesColumnsNullable",
     "select s.row_no, s.label from seats s left join seats t on 0",
     "COLS row_no INTN(4),label BIGCHAR(10); ROW 7,abcdef    ; "
     "DONE 0x0010 1"},
    {"ExpressionsKeepTheirValuesType", "select row_no + 1 as next from seats",
     "COLS next INTN(4); ROW 8; DONE 0x0010 1"},
    {"SchemaColumnsAsDeclared", "select room_id, room_info from rooms",
     "COLS room_id INT4 NN,room_info BIGVARCHAR(8000) NN; DONE 0x0010 0"},
    // Errors.
    {"MissingTableBeforeNextStatement", "select * from nosuch select 1",
     "ERROR 208 16 Invalid object name 'nosuch'.; DONE 0x0002 0"},
    {"MissingColumn", "select nosuch from seats",
     "ERROR 207 16 Invalid column name 'nosuch'.; DONE 0x0002 0"},
    {"UnknownFunction", "select nosuchfn(1)",
     "ERROR 195 15 'nosuchfn' is not a recognized built-in function name.; "
     "DONE 0x0002 0"},
    {"SyntaxErrorAtKeyword", "select from",
     "ERROR 156 15 Incorrect syntax near the keyword 'from'.; DONE 0x0002 0"},
    {"SyntaxError", "select )",
     "ERROR 102 15 Incorrect syntax near ')'.; DONE 0x0002 0"},
    {"UnclosedQuote", "select 'abc",
     "ERROR 105 15 Unclosed quotation mark after the character string "
     "'abc'.; DONE 0x0002 0"},
    {"ConvertReadsAsCast",
     "select convert(int, null) as n, convert(varchar(10), 12) as t, "
     "convert(int, '42', 1) + 1 as c",
     "COLS n BIGVARCHAR(8000),t BIGVARCHAR(8000),c INTN(4); NBCROW NULL,12,43; "
     "DONE 0x0010 1"},
};

class BatchStatementsTest : public ::testing::TestWithParam<BatchCase> {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    server_.Exec(R"sql(
      CREATE TABLE seats(label char(10) NOT NULL, note varchar(5),
                         row_no int NOT NULL, guests int,
                         total bigint NOT NULL, ratio float,
                         small smallint NOT NULL, tiny tinyint NOT NULL);
      INSERT INTO seats VALUES('abcdef', 'xy', 7, NULL, 5000000000, NULL, -3,
                               200);
      INSERT INTO vdb_procedures VALUES('vt_twice', '@b int = 0',
        'SELECT @b * 2 AS "@@return";');
    )sql");
  }

  VenueServer server_;
};

TEST_P(BatchStatementsTest, RepliesAsSqlServer) {
  RawClient c(server_.port());
  ASSERT_TRUE(c.logged_in());
  ASSERT_TRUE(c.Send(kBatchPacket, BatchPayload(GetParam().sql)));
  std::optional<std::string> reply = c.Receive();
  EXPECT_EQ(reply ? DescribeReply(*reply, true) : "closed", GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Batches, BatchStatementsTest,
                         ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BatchCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace venuedb::testing
