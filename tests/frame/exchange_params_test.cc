// Procedure calls on the wire, as venuedb's journal records them, and the
// harvest of return parameters and return status.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "database_test.h"
#include "frame/exchange.h"

namespace rondel {
namespace {

class ProcedureCallTest : public testing::DatabaseTest {
 protected:
  // The parameters of the last RPC, in wire order: name, type, type_code,
  // output, max_length, is_null, value.
  std::vector<testing::Row> LastRpcParams() {
    return venue_.Query(
        "SELECT name, type, type_code, output, max_length, is_null, value "
        "FROM vdb_journal_params WHERE journal_id=" +
        std::to_string(LastJournalId("rpc")) + " ORDER BY ordinal");
  }
};

TEST_F(ProcedureCallTest,
       EveryParameterKindGoesInOrderWithItsNameTypeStatusAndValue) {
  DefineProcedure(
      "frame_params",
      "@i int = 0, @t varchar(200) = NULL, @ni int = 0, @nt varchar(200) = "
      "NULL, "
      "@io int = 0 OUTPUT, @tout varchar(200) = NULL OUTPUT, "
      "@t100 varchar(100) = NULL, @nt0 varchar(200) = NULL, @neg int = 0",
      "SELECT 0 AS [@@return]");
  int32_t io = 31337;
  {
    Exchange x;
    ASSERT_TRUE(x.connected());
    EXPECT_TRUE(x.Call(
        "frame_params",
        {Param::Int("@i", 7), Param::Text("@t", "hello"), Param::NullInt("@ni"),
         Param::NullText("@nt"), Param::IntOutput("@io", &io),
         Param::TextOutput("@tout"), Param::Text("@t100", "limited", 100),
         Param::NullText("@nt0", 0), Param::Int("@neg", -2147483647 - 1)}));
  }
  auto p = LastRpcParams();
  ASSERT_EQ(9u, p.size());
  const std::string kIntN = "38";       // INTN, SQLINT4 sent with its 4 bytes
  const std::string kNVarChar = "231";  // short SQLVARCHAR travels as UTF-16

  // name, type, type_code, output, is_null, value
  struct Expect {
    const char* name;
    const char* type;
    std::string code;
    const char* output;
    const char* is_null;
    const char* value;  // null: SQL NULL
  };
  const Expect expected[] = {
      {"@i", "int", kIntN, "0", "0", "7"},
      {"@t", "varchar", kNVarChar, "0", "0", "hello"},
      {"@ni", "int", kIntN, "0", "1", nullptr},
      {"@nt", "varchar", kNVarChar, "0", "1", nullptr},
      {"@io", "int", kIntN, "1", "0",
       "31337"},  // the caller's value goes as input
      {"@tout", "varchar", kNVarChar, "1", "1", nullptr},
      {"@t100", "varchar", kNVarChar, "0", "0", "limited"},
      {"@nt0", "varchar", kNVarChar, "0", "1", nullptr},
      {"@neg", "int", kIntN, "0", "0", "-2147483648"},
  };
  for (size_t i = 0; i < p.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(expected[i].name, p[i][0]);
    EXPECT_EQ(expected[i].type, p[i][1]);
    EXPECT_EQ(expected[i].code, p[i][2]);
    EXPECT_EQ(expected[i].output, p[i][3]);
    EXPECT_EQ(expected[i].is_null, p[i][5]);
    if (expected[i].value == nullptr) {
      EXPECT_FALSE(p[i][6].has_value());
    } else {
      EXPECT_EQ(expected[i].value, p[i][6]);
    }
  }
  // Declared lengths in wire bytes: integers 4; short texts travel as UTF-16,
  // so a text output declares 400 (200 characters) and an input its own length
  // doubled (at least 2), also the one given a maximum of 100, which the client
  // library accepts only as -1.
  const char* kMaxLengths[] = {"4", "10", "4", "2", "4", "400", "14", "2", "4"};
  for (size_t i = 0; i < p.size(); ++i)
    EXPECT_EQ(kMaxLengths[i], p[i][4]) << expected[i].name;
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(ProcedureCallTest,
       HarvestCopiesIntegerAndBoundedTextAndLeavesAbsentNamesAlone) {
  const std::string text200(200, 'q');
  DefineProcedure(
      "frame_outputs",
      "@n int = 0 OUTPUT, @s varchar(200) = NULL OUTPUT, @extra int = 0 OUTPUT",
      "SELECT 42 AS [@n], '" + text200 + "' AS [@s], 9 AS [@extra]");
  int32_t n = 5;
  int32_t absent = 1234;
  struct {
    char text[201];
    char after[8];
  } dest;
  std::memset(&dest, 'X', sizeof dest);
  bool found[3] = {false, true, false};
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_outputs",
                       {Param::IntOutput("@n", &n), Param::TextOutput("@s"),
                        Param::IntOutput("@extra", &n)}));
    EXPECT_EQ(2u, x.HarvestReturns(
                      {ReturnTarget::Int("@n", &n, &found[0]),
                       ReturnTarget::Int("@absent", &absent, &found[1]),
                       ReturnTarget::Text("@s", dest.text, 200, &found[2])}));
  }
  // "@extra" matched nothing and was ignored.
  EXPECT_EQ((std::vector<bool>{true, false, true}),
            std::vector<bool>(found, found + 3));
  EXPECT_EQ(42, n);
  EXPECT_EQ(1234, absent);
  EXPECT_EQ(text200, std::string(dest.text));
  EXPECT_EQ('\0', dest.text[200]);
  EXPECT_EQ(std::string(8, 'X'), std::string(dest.after, 8));
}

TEST_F(ProcedureCallTest, LongerTextIsCutToTheTargetSize) {
  DefineProcedure("frame_long_output", "@s varchar(200) = NULL OUTPUT",
                  "SELECT 'abcdefghijklmnopqrstuvwxyz' AS [@s]");
  char dest[12];
  std::memset(dest, 'X', sizeof dest);
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_long_output", {Param::TextOutput("@s")}));
    EXPECT_EQ(1u, x.HarvestReturns({ReturnTarget::Text("@s", dest, 10)}));
  }
  EXPECT_STREQ("abcdefghij", dest);
  EXPECT_EQ('X', dest[11]);
}

TEST_F(ProcedureCallTest, NamesMatchExactlyAndTheFirstEqualTargetWins) {
  DefineProcedure("frame_case", "@error_code int = 0 OUTPUT",
                  "SELECT 0 AS [@error_code]");
  // The server answers with the name as the call spelled it.
  int32_t sent = 77;
  int32_t lower = 55;
  int32_t exact = 66;
  int32_t second = 88;
  bool found[3] = {true, false, true};
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_case", {Param::IntOutput("@Error_Code", &sent)}));
    x.HarvestReturns({ReturnTarget::Int("@error_code", &lower, &found[0]),
                      ReturnTarget::Int("@Error_Code", &exact, &found[1]),
                      ReturnTarget::Int("@Error_Code", &second, &found[2])});
  }
  EXPECT_EQ((std::vector<bool>{false, true, false}),
            std::vector<bool>(found, found + 3));
  EXPECT_EQ(55, lower);  // differs only in letter case: no match
  EXPECT_EQ(0, exact);
  EXPECT_EQ(88, second);  // one returned parameter fills one target
}

TEST_F(ProcedureCallTest, NullReturnValueLeavesIntegerButStillMatches) {
  DefineProcedure("frame_null_out",
                  "@code int = 0 OUTPUT, @s varchar(200) = NULL OUTPUT",
                  "SELECT NULL AS [@code], NULL AS [@s]");
  int32_t code = 3;
  char text[8] = "before";
  bool code_found = false;
  size_t filled = 0;
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_null_out", {Param::IntOutput("@code", &code),
                                          Param::TextOutput("@s")}));
    filled =
        x.HarvestReturns({ReturnTarget::Int("@code", &code, &code_found),
                          ReturnTarget::Text("@s", text, sizeof text - 1)});
  }
  EXPECT_EQ(2u, filled);
  EXPECT_TRUE(code_found);
  EXPECT_EQ(3, code);
  EXPECT_STREQ("", text);
}

TEST_F(ProcedureCallTest, ReturnStatusOfSucceedingAndFailingProcedures) {
  DefineProcedure("frame_status", "@a int = 0", "SELECT 12 AS [@@return]");
  {
    Exchange x;
    ASSERT_TRUE(x.Call("frame_status", {Param::Int("@a", 1)}));
    EXPECT_TRUE(x.HasReturnStatus());
    EXPECT_EQ(12, x.ReturnStatus());
  }
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('fail_procedure', 'frame_status', 0)");
  {
    Exchange x;
    EXPECT_FALSE(x.Call("frame_status", {Param::Int("@a", 1)}));
    EXPECT_TRUE(x.HasReturnStatus());
    EXPECT_EQ(-6, x.ReturnStatus());
  }
  // The failure reached the log through the error handler; no process exit.
  EXPECT_GE(log_.Lines().size(), 1u);
}

TEST_F(ProcedureCallTest, SendOnlyThenConfirmAndOptionalTextsLeftOut) {
  DefineProcedure("frame_optional",
                  "@a int = 0, @b varchar(20) = 'dflt', @c int = 0",
                  "SELECT 0 AS [@@return]");
  // An optional text that is null is not sent at all; one that is empty goes
  // as NULL; one with a value goes with it.
  auto sent = [&](const char* room) {
    {
      Exchange x;
      EXPECT_TRUE(
          x.CallSendOnly("frame_optional",
                         {Param::Int("@a", 1), Param::OptionalText("@b", room),
                          Param::Int("@c", 3)}));
      EXPECT_TRUE(x.Confirm());
    }
    std::string names;
    for (const testing::Row& r : LastRpcParams()) {
      names += *r[0] + "=" + r[6].value_or("NULL") + " ";
    }
    return names;
  };
  EXPECT_EQ(sent(nullptr), "@a=1 @c=3 ");
  EXPECT_EQ(sent(""), "@a=1 @b=NULL @c=3 ");
  EXPECT_EQ(sent("10.0.0.1"), "@a=1 @b=10.0.0.1 @c=3 ");
}

TEST_F(ProcedureCallTest, UnknownProcedureFailsTheCall) {
  Exchange x;
  EXPECT_FALSE(x.Call("frame_no_such_procedure", {Param::Int("@a", 1)}));
  EXPECT_GE(log_.Lines().size(), 1u);
}

}  // namespace
}  // namespace rondel
