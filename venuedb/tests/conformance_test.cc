// What clients other than DB-Library's usual calls rely on: returned
// parameters' ordinals, parameterised queries through sp_executesql, long
// texts cut on a character boundary, and a client that leaves in the middle of
// a result costing the server nothing.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "raw_client.h"
#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;

class ConformanceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(server_.port(), 0); }

  std::string Ask(uint8_t type, const std::string& payload) {
    RawClient c(server_.port());
    if (!c.logged_in() || !c.Send(type, payload)) return "no login";
    std::optional<std::string> reply = c.Receive();
    return reply ? DescribeReply(*reply) : "closed";
  }

  VenueServer server_;
};

TEST_F(ConformanceTest, ReturnValueOrdinalIsThePlaceInTheCall) {
  server_.Exec(
      "INSERT INTO vdb_procedures VALUES('vt_order',"
      " '@a int = 1, @b int = 0 OUTPUT, @c varchar(20) = NULL OUTPUT',"
      " 'SELECT @a + 1 AS \"@b\", ''c'' || @a AS \"@c\"')");
  std::string call = RpcParam("@c", 1, "E7 2800 0408D00000 0200 7800") +
                     RpcParam("@a", 0, "26 04 04 05000000") +
                     RpcParam("@b", 1, "26 04 04 00000000");
  EXPECT_EQ(Ask(kRpcPacket, RpcPayload("vt_order", call)),
            "STATUS 0; RET 0 @c c5; RET 2 @b 6; DONEPROC 0x0000 0");
}

struct ExecuteSqlCase {
  const char* name;
  std::string payload;
  std::string reply;
};

void PrintTo(const ExecuteSqlCase& c, std::ostream* os) { *os << c.name; }

std::string Int4(const std::string& name, const std::string& value_hex) {
  return RpcParam(name, 0, "26 04 04 " + value_hex);
}

const ExecuteSqlCase kExecuteSqlCases[] = {
    {"ByWellKnownIdWithUnnamedParts",
     RpcPayload(10, NVarcharParam("", "select @p1 + 1 as answer") +
                        NVarcharParam("", "@p1 int") + Int4("@p1", "29000000")),
     "COLS answer; ROW 42; DONEINPROC 0x0011 1; STATUS 0; DONEPROC 0x0000 0"},
    {"ByNameWithValuesInAnotherOrder",
     RpcPayload("sp_executesql",
                NVarcharParam("@stmt", "select @p1 - @p2 as answer") +
                    NVarcharParam("@params", "@p1 int, @p2 int") +
                    Int4("@p2", "02000000") + Int4("@p1", "2C000000")),
     "COLS answer; ROW 42; DONEINPROC 0x0011 1; STATUS 0; DONEPROC 0x0000 0"},
    {"WriteReportsItsCount",
     RpcPayload(10, NVarcharParam("", "insert into vdb_databases values(@n)") +
                        NVarcharParam("", "@n nvarchar(20)") +
                        NVarcharParam("@n", "other")),
     "DONEINPROC 0x0011 1; STATUS 0; DONEPROC 0x0000 0"},
    {"WithoutStatement", RpcPayload(10, ""), "ERROR 214; DONE 0x0002 0"},
    // A statement alone is plain SQL from a client: it runs as a batch.
    {"LoneStatementRunsAsABatch",
     RpcPayload(
         "sp_executesql",
         NVarcharParam("@stmt", "set nocount on; use master; select 7 as n")),
     "DONE 0x0001 0; ENV 1; DONE 0x0001 0; COLS n; ROW 7; DONE 0x0000 0"},
    {"LoneStatementWithEmptyDeclarations",
     RpcPayload(10, NVarcharParam("", "begin tran; select 1 as n; commit") +
                        NVarcharParam("", "")),
     "ENV 8; DONE 0x0001 0; COLS n; ROW 1; DONE 0x0011 1; ENV 9; DONE 0x0000 "
     "0"},
};

class ExecuteSqlTest : public ConformanceTest,
                       public ::testing::WithParamInterface<ExecuteSqlCase> {};

TEST_P(ExecuteSqlTest, Answers) {
  EXPECT_EQ(Ask(kRpcPacket, GetParam().payload), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ExecuteSqlTest, ::testing::ValuesIn(kExecuteSqlCases),
    [](const ::testing::TestParamInfo<ExecuteSqlCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ConformanceTest, TextLongerThanItsDeclarationIsCutLikeAParameter) {
  server_.Exec(
      "INSERT INTO vdb_procedures VALUES('vt_cut', '@s varchar(5), @t "
      "char(3), @u varchar(max)', 'SELECT @s AS s, @t AS t, @u AS u')");
  EXPECT_EQ(
      Ask(kRpcPacket, RpcPayload("vt_cut", NVarcharParam("@s", "abcdefgh") +
                                               NVarcharParam("@t", "xyz1") +
                                               NVarcharParam("@u", "whole"))),
      "COLS s,t,u; ROW abcde,xyz,whole; DONEINPROC 0x0011 1; STATUS 0; "
      "DONEPROC 0x0000 0");
}

// T-SQL as other clients send it on connecting and after: @@ variables, and
// statements one per line without ';'.
struct TsqlCase {
  const char* name;
  const char* sql;
  const char* reply;
};

void PrintTo(const TsqlCase& c, std::ostream* os) { *os << c.name; }

const TsqlCase kTsqlCases[] = {
    {"StatementsWithoutSemicolons",
     "SELECT @@MAX_PRECISION AS p\nSET TRANSACTION ISOLATION LEVEL READ "
     "COMMITTED\nSET IMPLICIT_TRANSACTIONS OFF\nselect 2 as n",
     "COLS p; ROW 38; DONE 0x0011 1; DONE 0x0001 0; DONE 0x0001 0; COLS n; "
     "ROW 2; DONE 0x0010 1"},
    {"TransactionCountFollowsTheSession",
     "begin tran\nselect @@trancount as t\ncommit\nselect @@TRANCOUNT as t",
     "ENV 8; DONE 0x0001 0; COLS t; ROW 1; DONE 0x0011 1; ENV 9; DONE 0x0001 "
     "0; COLS t; ROW 0; DONE 0x0010 1"},
    {"QuotedAndCommentedTextIsLeftAlone",
     "select '@@spid' as a, \"@@x\" as b -- @@y\n",
     "COLS a,b; ROW @@spid,@@x; DONE 0x0010 1"},
    {"LastWrite",
     "create temp table t(x)\ninsert into t values(5)\nselect @@identity as "
     "i, @@rowcount as r, @@error as e",
     "DONE 0x0001 0; DONE 0x0011 1; COLS i,r,e; ROW 1,1,0; DONE 0x0010 1"},
    {"UnknownVariable", "select @@nosuch", "ERROR 137; DONE 0x0002 0"},
    {"SyntaxErrorBeforeAStatementWord", "select 1 as a where 1 = select",
     "ERROR 156; DONE 0x0002 0"},
};

class TsqlTest : public ConformanceTest,
                 public ::testing::WithParamInterface<TsqlCase> {};

TEST_P(TsqlTest, Answers) {
  EXPECT_EQ(Ask(kBatchPacket, BatchPayload(GetParam().sql)), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Batches, TsqlTest, ::testing::ValuesIn(kTsqlCases),
                         [](const ::testing::TestParamInfo<TsqlCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ConformanceTest, DbLibraryRunsParameterisedQuery) {
  server_.Exec(
      "CREATE TABLE songs(id INTEGER, title TEXT);"
      "INSERT INTO songs VALUES(1, 'one'), (2, 'two');");
  Client c(server_.port());
  Outcome out = c.Call("sp_executesql",
                       {TextParam("@stmt",
                                  "select title from songs where "
                                  "id = @id"),
                        TextParam("@params", "@id int"), IntParam("@id", 2)});
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.results.size(), 1u);
  EXPECT_EQ(out.results[0].rows, (std::vector<Cells>{{"two"}}));
}

TEST_F(ConformanceTest, LongTextIsCutOnACharacterBoundary) {
  struct Case {
    const char* character;  // as SQLite hex
    std::string bytes;
    size_t kept;  // whole characters within 8,000 bytes after "a"
  };
  const Case cases[] = {{"D6DC", "\xD6\xDC", 3999},
                        {"81308130", "\x81\x30\x81\x30", 1999}};
  server_.Exec("CREATE TABLE texts(id INTEGER, t TEXT)");
  for (const Case& c : cases) {
    // "a" and then 8,000 bytes of the character: one byte too many.
    server_.Exec(std::string("DELETE FROM texts; INSERT INTO texts VALUES(1, "
                             "'a' || replace(printf('%.") +
                 std::to_string(8000 / c.bytes.size()) +
                 "c', '*'), '*', CAST(X'" + c.character + "' AS TEXT)))");
    Client client(server_.port(), "sa", "", "GB18030");
    Outcome out = client.Batch("select t from texts");
    ASSERT_TRUE(out.ok);
    std::string expected = "a";
    for (size_t i = 0; i < c.kept; ++i) expected += c.bytes;
    EXPECT_EQ(out.results.at(0).rows.at(0).at(0), expected) << c.character;
  }
}

// How many descriptors the server process holds on its write-ahead log: one
// per open SQLite handle (the database file's own descriptors are not counted:
// SQLite keeps closed ones for reuse while another handle holds a lock).
int ServerLogDescriptors(const std::string& db_path) {
  const std::string log = db_path + "-wal";
  DIR* proc = opendir("/proc");
  int count = -1;
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    std::string dir = std::string("/proc/") + entry->d_name;
    std::ifstream cmdline(dir + "/cmdline");
    std::string args((std::istreambuf_iterator<char>(cmdline)),
                     std::istreambuf_iterator<char>());
    if (args.find("serve") == std::string::npos ||
        args.find(db_path) == std::string::npos) {
      continue;
    }
    DIR* fds = opendir((dir + "/fd").c_str());
    count = 0;
    while (dirent* fd = fds ? readdir(fds) : nullptr) {
      char target[4096];
      ssize_t n =
          readlink((dir + "/fd/" + fd->d_name).c_str(), target, sizeof target);
      count += n > 0 && std::string(target, static_cast<size_t>(n)) == log;
    }
    if (fds) closedir(fds);
  }
  if (proc) closedir(proc);
  return count;
}

TEST_F(ConformanceTest, ClientLeavingMidResultLeavesNoHandleOpen) {
  auto wait_all_closed = [this] {
    for (int i = 0; i < 500; ++i) {
      if (server_.Query("SELECT count(*) FROM vdb_connections WHERE "
                        "closed_us IS NULL") == std::vector<Row>{{"0"}}) {
        return;
      }
      usleep(10000);
    }
    ADD_FAILURE() << "a connection was never recorded as closed";
  };
  { RawClient warm_up(server_.port()); }
  wait_all_closed();
  int before = ServerLogDescriptors(server_.db_path());
  ASSERT_GT(before, 0);
  for (int i = 0; i < 3; ++i) {
    RawClient c(server_.port());
    ASSERT_TRUE(c.logged_in());
    // Far more than the sockets' buffers hold: the server is still writing
    // rows when the client goes.
    ASSERT_TRUE(c.Send(kBatchPacket,
                       BatchPayload("with recursive r(i) as (select 1 union "
                                    "all select i + 1 from r where i < "
                                    "2000000) select i, 'row ' || i from r")));
  }
  wait_all_closed();
  EXPECT_EQ(ServerLogDescriptors(server_.db_path()), before);
}

}  // namespace
}  // namespace venuedb::testing
