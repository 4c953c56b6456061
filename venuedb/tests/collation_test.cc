// Collations: the database's default (venuedb init/seed --collation) in the
// login's ENVCHANGE 7 and in every text column, returned parameter and
// literal; a column's own from COLLATE; texts kept and sent in the
// collation's code page, byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "raw_client.h"
#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::VenueServer;

struct CollationCase {
  const char* name;
  const char* bytes;  // hex: LCID, flags, version, sort id
};

const CollationCase kChinese = {"Chinese_PRC_CI_AS", "04 08 D0 00 00"};
const CollationCase kLatin1Sql = {"SQL_Latin1_General_CP1_CI_AS",
                                  "09 04 D0 00 34"};
const CollationCase kLatin1 = {"Latin1_General_CI_AS", "09 04 D0 00 00"};

// A venue without data whose database has the given default collation.
std::vector<std::string> EmptyVenue(const char* collation) {
  return {"--collation",     collation, "--medias",        "0", "--rooms", "0",
          "--user-playlist", "0",       "--playlist-rows", "0"};
}

std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::string Utf16Of(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

class DatabaseCollationTest : public ::testing::TestWithParam<CollationCase> {};

// The login, an undeclared column and a returned NVARCHAR parameter all carry
// the database's collation.
TEST_P(DatabaseCollationTest, LoginColumnsAndOutputsCarryTheDatabaseDefault) {
  const CollationCase& c = GetParam();
  VenueServer server(EmptyVenue(c.name));
  server.Exec(
      "CREATE TABLE t(d varchar(10));"
      "INSERT INTO vdb_procedures VALUES('vt_echo', '@x varchar(20) OUTPUT',"
      " 'SELECT @x AS \"@x\"')");
  RawClient raw(server.port());
  ASSERT_TRUE(raw.logged_in());
  EXPECT_TRUE(Contains(raw.login_reply(),
                       Hex(std::string("E3 0800 07 05") + c.bytes + "00")));

  ASSERT_TRUE(raw.Send(kBatchPacket, BatchPayload("select d from t")));
  EXPECT_TRUE(Contains(
      raw.Receive().value_or(""),
      Hex(std::string("81 0100 00000000 0100 A7 0A00") + c.bytes + "01 6400")));

  ASSERT_TRUE(raw.Send(
      kRpcPacket, RpcPayload("vt_echo", RpcParam("@x", 1,
                                                 std::string("E7 2800") +
                                                     c.bytes + "0200 6100"))));
  EXPECT_TRUE(Contains(raw.Receive().value_or(""),
                       Hex(std::string("E7 2800") + c.bytes + "0200 6100")));
}

INSTANTIATE_TEST_SUITE_P(Collations, DatabaseCollationTest,
                         ::testing::Values(kChinese, kLatin1Sql, kLatin1));

TEST(ColumnCollationTest, CollateClauseGivesEachColumnItsOwnBytes) {
  VenueServer server;
  RawClient raw(server.port());
  ASSERT_TRUE(raw.logged_in());
  ASSERT_TRUE(raw.Send(
      kBatchPacket,
      BatchPayload("create table t(a varchar(4) collate Latin1_General_CI_AS,"
                   " b varchar(4) COLLATE sql_latin1_general_cp1_ci_as,"
                   " c varchar(4) collate Chinese_PRC_CI_AS, d varchar(4))")));
  ASSERT_EQ(DescribeReply(raw.Receive().value_or("")), "DONE 0x0000 0");
  ASSERT_TRUE(raw.Send(kBatchPacket, BatchPayload("select a, b, c, d from t")));
  const std::string column = "00000000 0100 A7 0400 ";
  EXPECT_TRUE(
      Contains(raw.Receive().value_or(""),
               Hex("81 0400 " + column + kLatin1.bytes + "01 6100" + column +
                   kLatin1Sql.bytes + "01 6200" + column + kChinese.bytes +
                   "01 6300" + column + kChinese.bytes + "01 6400")));
}

struct ComparisonCase {
  const char* declaration;
  const char* stored;  // hex
  const char* compared_with;
  bool equal;
};

// A COLLATE column compares as its collation: letters in any case (CP1252's
// too in a Latin-1 one), a GB18030 character's trail byte as it is; a column
// without COLLATE compares bytes.
TEST(ColumnCollationTest, CollateColumnComparesAsItsCollation) {
  const ComparisonCase kCases[] = {
      {"varchar(8) collate Latin1_General_CI_AS", "616263", "414243", true},
      {"varchar(8) collate Latin1_General_CI_AS", "E0", "C0", true},
      {"varchar(8) collate SQL_Latin1_General_CP1_CI_AS", "9A", "8A", true},
      {"varchar(8) collate Latin1_General_CI_AS", "616263", "616264", false},
      {"varchar(8) collate Chinese_PRC_CI_AS", "616263", "414243", true},
      {"varchar(8) collate Chinese_PRC_CI_AS", "B061", "B041", false},
      {"varchar(8) collate Chinese_PRC_CI_AS", "E0", "C0", false},
      {"varchar(8)", "616263", "414243", false},
  };
  VenueServer server;
  Client client(server.port());
  ASSERT_TRUE(client.connected());
  int table = 0;
  for (const ComparisonCase& c : kCases) {
    const std::string name = "t" + std::to_string(++table);
    ASSERT_TRUE(
        client.Batch("create table " + name + "(v " + c.declaration + ")").ok);
    server.Exec("INSERT INTO " + name + " VALUES(CAST(X'" + c.stored +
                "' AS TEXT))");
    Outcome out =
        client.Batch("select count(*) from " + name + " where v = cast(x'" +
                     c.compared_with + "' as text)");
    ASSERT_EQ(out.results.size(), 1u) << c.declaration;
    EXPECT_EQ(out.results[0].rows, (std::vector<Cells>{{c.equal ? "1" : "0"}}))
        << c.declaration << " " << c.stored << " " << c.compared_with;
  }
}

// Every byte value, as a Latin-1 venue may hold GBK bytes.
std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

struct LatinColumnCase {
  const char* database_collation;
  const char* declaration;
};

class LatinColumnTest : public ::testing::TestWithParam<LatinColumnCase> {};

TEST_P(LatinColumnTest, EveryByteComesBackAsStored) {
  VenueServer server(EmptyVenue(GetParam().database_collation));
  Client client(server.port(), "sa", "", "CP1252");
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client
                  .Batch(std::string("create table bytes(v ") +
                         GetParam().declaration + ")")
                  .ok);
  server.Exec("INSERT INTO bytes VALUES(CAST(X'" + HexOf(AllBytes()) +
              "' AS TEXT))");

  Outcome read = client.Batch("select v from bytes");
  ASSERT_EQ(read.results.size(), 1u);
  ASSERT_EQ(read.results[0].rows.size(), 1u);
  EXPECT_EQ(HexOf(read.results[0].rows[0][0].value_or("")), HexOf(AllBytes()));

  RawClient raw(server.port());
  ASSERT_TRUE(raw.Send(kBatchPacket, BatchPayload("select v from bytes")));
  EXPECT_TRUE(
      Contains(raw.Receive().value_or(""), "\xD1" + Hex("0001") + AllBytes()));
}

INSTANTIATE_TEST_SUITE_P(
    Columns, LatinColumnTest,
    ::testing::Values(LatinColumnCase{kLatin1Sql.name, "varchar(256)"},
                      LatinColumnCase{
                          kChinese.name,
                          "varchar(256) collate Latin1_General_CI_AS"}));

// U+0081..U+00FF and the euro sign, as a client converting CP1252 sends
// them, and the bytes a Latin-1 database keeps of them.
const std::u16string kLatinText = [] {
  std::u16string text;
  for (char16_t unit = 0x81; unit <= 0xFF; ++unit) text += unit;
  return text + u"\u20AC";
}();
const std::string kLatinBytes = AllBytes().substr(0x81) + "\x80";

enum class Utf16Source { kLiteral, kParameter };

class Utf16IntoLatinTest : public ::testing::TestWithParam<Utf16Source> {};

TEST_P(Utf16IntoLatinTest, StoredAsTheCodePagesBytes) {
  VenueServer server(EmptyVenue(kLatin1Sql.name));
  server.Exec("CREATE TABLE t(v varchar(200))");
  RawClient raw(server.port());
  ASSERT_TRUE(raw.logged_in());
  if (GetParam() == Utf16Source::kLiteral) {
    ASSERT_TRUE(raw.Send(kBatchPacket,
                         BatchPayloadBytes(Utf16("insert into t values(N'") +
                                           Utf16Of(kLatinText) + Utf16("')"))));
  } else {
    const std::string value = Utf16Of(kLatinText);  // 256 bytes: 0x0100
    ASSERT_EQ(value.size(), 256u);
    ASSERT_TRUE(raw.Send(
        kRpcPacket,
        RpcPayload("sp_executesql",
                   NVarcharParam("@stmt", "insert into t values(@p)") +
                       NVarcharParam("@params", "@p nvarchar(200)") +
                       RpcParam("@p", 0,
                                std::string("E7 9001") + kLatin1Sql.bytes +
                                    "0001" + HexOf(value)))));
  }
  EXPECT_EQ(DescribeReply(raw.Receive().value_or(""), true),
            GetParam() == Utf16Source::kLiteral
                ? "DONE 0x0010 1"
                : "DONEINPROC 0x0011 1; STATUS 0; DONEPROC 0x0000 0");
  EXPECT_EQ(server.Query("SELECT hex(v) FROM t"),
            (std::vector<rondel::testing::Row>{{HexOf(kLatinBytes)}}));
}

INSTANTIATE_TEST_SUITE_P(Sources, Utf16IntoLatinTest,
                         ::testing::Values(Utf16Source::kLiteral,
                                           Utf16Source::kParameter));

TEST(InitCollationTest, UnknownNameIsRefusedWithSqlServersMessage) {
  VenueServer server;
  const std::string db = server.folder() + "/refused.db";
  FILE* out = popen((std::string(VENUEDB_PATH) + " init --db " + db +
                     " --collation Klingon_CI_AS 2>&1")
                        .c_str(),
                    "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, out))
    text.append(buffer, n);
  const int status = pclose(out);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_TRUE(Contains(text, "Invalid collation 'Klingon_CI_AS'. (error 448"))
      << text;
}

}  // namespace
}  // namespace venuedb::testing
