// Each declared SQL Server type as venuedb sends it, byte for byte: a table's
// column selected in a batch (COLMETADATA type info and the row), procedure
// parameters of those types (what is accepted, what comes back), values that
// do not fit, and NBCROW against ROW by TDS version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raw_client.h"
#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::VenueServer;

constexpr uint32_t kTds71 = 0x71000001;
constexpr uint32_t kTds72 = 0x72090002;
constexpr uint32_t kTds74 = 0x74000004;

// Bytes as spaced upper-case hex, so a failure shows where they part.
std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

// The collation venuedb's database has (Chinese_PRC_CI_AS).
const std::string kColl = " 0408D00000 ";
// A text pointer and timestamp, as TEXT and NTEXT values carry them.
const std::string kTextPtr =
    " 10 01010101010101010101010101010101 0000000000000000 ";
// 2026-01-01: days since 1900-01-01 (46021).
const std::string kDays = "C5B30000";

struct ColumnCase {
  std::string declared;   // the column's declaration
  std::string stored;     // the SQL literal stored in it
  std::string type_info;  // COLMETADATA: flags, then the type info
  std::string row;        // the row token, value included
  uint32_t tds = kTds74;
};

// SQL Server's bytes for each declared type; "flags 0000" is NOT NULL.
const ColumnCase kColumns[] = {
    // Already right before: int, varchar in GB18030 under the collation.
    {"int NOT NULL", "5", "0000 38", "D1 05000000"},
    {"varchar(10)", "'\xD6\xDC'", "0100 A7 0A00" + kColl, "D1 0200 D6DC"},
    // nvarchar(n): 2n bytes, the stored GB18030 text as UTF-16LE.
    {"nvarchar(10)", "'a\xD6\xDC'", "0100 E7 1400" + kColl,
     "D1 0400 6100 6854"},
    {"nvarchar(2)", "'abc'", "0100 E7 0400" + kColl, "D1 0400 6100 6200"},
    // nchar(n): always 2n bytes, padded with U+0020.
    {"nchar(3) NOT NULL", "'a'", "0000 EF 0600" + kColl,
     "D1 0600 6100 2000 2000"},
    // text / ntext: the table's name in parts, a text pointer, 4-byte length.
    // "TEXT" in capitals is venuedb's own schema's: varchar 8000.
    {"text", "'ab'", "0100 23 FFFFFF7F" + kColl + "01 0100 7400",
     "D1" + kTextPtr + "02000000 6162"},
    {"Text", "NULL", "0100 23 FFFFFF7F" + kColl + "01 0100 7400", "D1 00"},
    {"TEXT", "'ab'", "0100 A7 401F" + kColl, "D1 0200 6162"},
    {"ntext", "'\xD6\xDC'", "0100 63 FEFFFF7F" + kColl + "01 0100 7400",
     "D1" + kTextPtr + "02000000 6854"},
    {"ntext", "NULL", "0100 63 FEFFFF7F" + kColl + "01 0100 7400", "D1 00"},
    // (max): PLP from TDS 7.2, TEXT / NTEXT before.
    {"\"varchar(max)\"", "'ab'", "0100 A7 FFFF" + kColl,
     "D1 0200000000000000 02000000 6162 00000000"},
    {"\"nvarchar(max)\"", "'ab'", "0100 E7 FFFF" + kColl,
     "D1 0400000000000000 04000000 61006200 00000000"},
    {"\"nvarchar(max)\"", "''", "0100 E7 FFFF" + kColl,
     "D1 0000000000000000 00000000"},
    {"\"varchar(max)\"", "NULL", "0100 A7 FFFF" + kColl, "D2 01"},
    {"\"varchar(max)\"", "'ab'", "0100 23 FFFFFF7F" + kColl + "0100 7400",
     "D1" + kTextPtr + "02000000 6162", kTds71},
    {"\"nvarchar(max)\"", "'ab'", "0100 63 FEFFFF7F" + kColl + "0100 7400",
     "D1" + kTextPtr + "04000000 61006200", kTds71},
    // bit: BIT when NOT NULL, else BITN(1); a stored 2 is 1.
    {"bit NOT NULL", "2", "0000 32", "D1 01"},
    {"bit", "0", "0100 68 01", "D1 01 00"},
    // numeric / decimal: length, precision, scale; sign then magnitude.
    {"numeric(10,2)", "12.35", "0100 6C 09 0A 02", "D1 09 01 D304000000000000"},
    {"numeric(5) NOT NULL", "-7", "0000 6C 05 05 00", "D1 05 00 07000000"},
    {"decimal(38,4)", "'1.5'", "0100 6A 11 26 04",
     "D1 11 01 983A0000000000000000000000000000"},
    {"numeric(10,2)", "NULL", "0100 6C 09 0A 02", "D1 00"},
    // money (x 10000, high half first) / smallmoney.
    {"money", "12.5", "0100 6E 08", "D1 08 00000000 48E80100"},
    {"money NOT NULL", "-1", "0000 3C", "D1 FFFFFFFF F0D8FFFF"},
    {"smallmoney", "1.25", "0100 6E 04", "D1 04 D4300000"},
    {"smallmoney NOT NULL", "1.25", "0000 7A", "D1 D4300000"},
    // real: FLT4 / FLTN(4).
    {"real", "1.5", "0100 6D 04", "D1 04 0000C03F"},
    {"real NOT NULL", "1.5", "0000 3B", "D1 0000C03F"},
    // datetime: days, 1/300 s ticks; smalldatetime: days, minutes (30 s up).
    {"datetime", "'2026-01-01 08:00:00'", "0100 6F 08",
     "D1 08 " + kDays + " 00D68300"},
    {"datetime NOT NULL", "'2026-01-01 08:00:00.003'", "0000 3D",
     "D1 " + kDays + " 01D68300"},
    // SQL Server's own text of a datetime: month name, AM/PM, ms after ':'.
    {"datetime NOT NULL", "'Dec 25 1898 07:30:00:567PM'", "0000 3D",
     "D1 8CFEFFFF 4A5A4101"},
    {"datetime NOT NULL", "'feb 27 2001 10:24:35:056AM'", "0000 3D",
     "D1 53900000 158CAB00"},
    {"datetime NOT NULL", "'Jan  1 2026'", "0000 3D",
     "D1 " + kDays + " 00000000"},
    {"smalldatetime", "'2026-01-01 08:00:30'", "0100 6F 04", "D1 04 C5B3 E101"},
    {"smalldatetime NOT NULL", "'2026-01-01'", "0000 3A", "D1 C5B3 0000"},
};

// A batch's reply to "SELECT c FROM t": COLMETADATA, the row, DONE (count 1).
std::string SelectReply(const ColumnCase& c) {
  const bool tds72 = c.tds >= kTds72;
  return Hex(std::string("81 0100 ") + (tds72 ? "00000000 " : "0000 ") +
             c.type_info + " 01 6300 " + c.row + " FD 1000 C100 " +
             (tds72 ? "0100000000000000" : "01000000"));
}

std::string Batch(uint32_t tds, const std::string& sql) {
  return tds >= kTds72 ? BatchPayload(sql) : Utf16(sql);
}

class SqlTypesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(server_.port(), 0); }

  std::string Run(const std::string& sql, uint32_t tds = kTds74) {
    RawClient client(server_.port(), true, tds);
    EXPECT_TRUE(client.logged_in());
    client.Send(kBatchPacket, Batch(tds, sql));
    return client.Receive().value_or("");
  }

  VenueServer server_;
};

TEST_F(SqlTypesTest, ColumnsGoAsTheirDeclaredTypes) {
  for (const ColumnCase& c : kColumns) {
    SCOPED_TRACE(c.declared + " holding " + c.stored);
    server_.Exec("DROP TABLE IF EXISTS t; CREATE TABLE t(c " + c.declared +
                 "); INSERT INTO t VALUES(" + c.stored + ")");
    EXPECT_EQ(HexOf(Run("SELECT c FROM t", c.tds)), HexOf(SelectReply(c)));
  }
}

TEST_F(SqlTypesTest, ProcedureResultsGoAsTheirDeclaredTypes) {
  server_.Exec(
      "CREATE TABLE p(n nvarchar(3), b bit NOT NULL);"
      "INSERT INTO p VALUES('\xD6\xDC', 2);"
      "INSERT INTO vdb_procedures VALUES('vt_rows', '', 'SELECT n, b FROM "
      "p')");
  RawClient client(server_.port());
  client.Send(kRpcPacket, RpcPayload("vt_rows", ""));
  EXPECT_EQ(HexOf(client.Receive().value_or("")),
            HexOf(Hex("81 0200 00000000 0100 E7 0600" + kColl +
                      "01 6E00 00000000 0000 32 01 6200 D1 0200 6854 01 "
                      "FF 1100 C100 0100000000000000 79 00000000 "
                      "FE 0000 C100 0000000000000000")));
}

TEST_F(SqlTypesTest, MaxLengthsAreReadUnquotedOutsideQuotedText) {
  EXPECT_EQ(DescribeReply(Run("CREATE TABLE m(a varchar(max), b nvarchar( "
                              "MAX ), c [nvarchar](max) NOT NULL) INSERT "
                              "INTO m VALUES('x', 'y', 'z')")),
            "DONE 0x0001 0; DONE 0x0010 1");
  const std::string plp = " FFFF" + kColl;
  EXPECT_EQ(
      HexOf(Run("SELECT a, b, c, 'varchar(max)' AS s FROM m")),
      HexOf(Hex("81 0400 00000000 0100 A7" + plp + "01 6100 00000000 0100 E7" +
                plp + "01 6200 00000000 0000 E7" + plp +
                "01 6300 00000000 0100 A7 401F" + kColl + "01 7300 D1 " +
                "0100000000000000 01000000 78 00000000 " +
                "0200000000000000 02000000 7900 00000000 " +
                "0200000000000000 02000000 7A00 00000000 " + "0C00") +
            "varchar(max)" + Hex("FD 1000 C100 0100000000000000")));
}

TEST_F(SqlTypesTest, RowsWithNullsGoAsNbcRowsFromTds73WhenShorter) {
  server_.Exec(
      "CREATE TABLE t(a int, b varchar(5), c int);"
      "INSERT INTO t VALUES(NULL, 'x', NULL), (1, 'x', 2);"
      "CREATE TABLE u(a \"varchar(max)\", b int NOT NULL);"
      "INSERT INTO u VALUES(NULL, 3)");
  // NULL, 'x', NULL: bitmap 05 then 'x' (5 bytes) against ROW's 6.
  EXPECT_EQ(DescribeReply(Run("SELECT a, b, c FROM t")),
            "COLS a,b,c; NBCROW NULL,x,NULL; ROW 1,x,2; DONE 0x0010 2");
  EXPECT_EQ(DescribeReply(Run("SELECT a, b, c FROM t", kTds72)),
            "COLS a,b,c; ROW NULL,x,NULL; ROW 1,x,2; DONE 0x0010 2");
  // A PLP NULL is 8 bytes: bitmap 01 and the int (6 bytes) against 13.
  EXPECT_EQ(DescribeReply(Run("SELECT a, b FROM u"), true),
            "COLS a BIGVARCHAR(65535),b INT4 NN; NBCROW NULL,3; DONE 0x0010 1");
  EXPECT_EQ(DescribeReply(Run("INSERT INTO u VALUES('xy', 4) SELECT * FROM u "
                              "WHERE b = 4")),
            "DONE 0x0011 1; COLS a,b; ROW xy,4; DONE 0x0010 1");
}

// The same columns through FreeTDS's DB-Library (TDS 7.4, client character
// set GB18030): every type read, NBCROW and PLP included.
TEST_F(SqlTypesTest, DbLibraryReadsEveryType) {
  server_.Exec(
      "CREATE TABLE f(n nvarchar(4), c nchar(2), x ntext, m \"nvarchar(max)\","
      " b bit, d numeric(10,2), y money, r real, t datetime, s "
      "smalldatetime, z int);"
      "INSERT INTO f VALUES('\xD6\xDC', 'a', 'ab', '\xD6\xDC', 1, 12.35, "
      "12.5, 1.5, '2026-01-01 08:00:00', '2026-01-01 08:00:30', NULL)");
  Client client(server_.port(), "sa", "", "GB18030");
  ASSERT_TRUE(client.connected());
  const Outcome out = client.Batch("SELECT * FROM f");
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.results.size(), 1u);
  std::string line;
  for (const Cell& cell : out.results[0].rows.at(0))
    line += (line.empty() ? "" : "|") + cell.value_or("NULL");
  EXPECT_EQ(line,
            "\xD6\xDC|a |ab|\xD6\xDC|1|12.35|12.5000|1.5|"
            "Jan  1 2026  8:00:00:000AM|Jan  1 2026  8:01:00:000AM|NULL");
}

// What a procedure's parameters of each type take and give back: the call
// sends one parameter as output; the procedure returns it as declared.
struct ParamCase {
  std::string declared;  // "@p <type> = NULL OUTPUT"
  std::string sent;      // type info and value as sent
  std::string returned;  // type info and value of the RETURNVALUE
};

const ParamCase kParams[] = {
    {"numeric(10,2)", "6C 11 12 02 09 01 D304000000000000",
     "6C 09 0A 02 09 01 D304000000000000"},
    {"decimal(5,1)", "6A 11 26 00 11 00 0C000000000000000000000000000000",
     "6A 05 05 01 05 00 78000000"},
    {"money", "6E 08 08 00000000 48E80100", "6E 08 08 00000000 48E80100"},
    {"smallmoney", "6E 04 04 D4300000", "6E 04 04 D4300000"},
    {"bit", "68 01 01 01", "68 01 01 01"},
    {"real", "6D 04 04 0000C03F", "6D 04 04 0000C03F"},
    {"datetime", "6F 08 08 " + kDays + " 00D68300",
     "6F 08 08 " + kDays + " 00D68300"},
    {"smalldatetime", "6F 04 04 C5B3 E001", "6F 04 04 C5B3 E001"},
    {"nvarchar(2)", "E7 4000" + kColl + "0600 610062006300",
     "E7 0400" + kColl + "0400 61006200"},
    {"nchar(3)", "EF 0400" + kColl + "0200 6100",
     "EF 0600" + kColl + "0600 6100 2000 2000"},
    {"nvarchar(4)", "63 FEFFFF7F" + kColl + "02000000 6100",
     "E7 0800" + kColl + "0200 6100"},
    {"nvarchar(4)",
     "E7 FFFF" + kColl + "FEFFFFFFFFFFFFFF 02000000 6100 00000000",
     "E7 0800" + kColl + "0200 6100"},
};

TEST_F(SqlTypesTest, ParametersOfEachTypeAreTakenAndReturnedAsDeclared) {
  for (const ParamCase& c : kParams) {
    SCOPED_TRACE(c.declared + " sent as " + c.sent);
    server_.Exec(
        "INSERT OR REPLACE INTO vdb_procedures VALUES('vt_type', '@p " +
        c.declared + " = NULL OUTPUT', 'SELECT 0 AS \"@@return\"')");
    RawClient client(server_.port());
    client.Send(kRpcPacket, RpcPayload("vt_type", RpcParam("@p", 1, c.sent)));
    EXPECT_EQ(HexOf(client.Receive().value_or("")),
              HexOf(Hex("79 00000000 AC 0000 02 4000 7000 01 00000000 0100 " +
                        c.returned + " FE 0000 C100 0000000000000000")));
  }
}

// Values that do not fit the type they are written to, and the error SQL
// Server gives on that path:
//   a value written to a tinyint or smallint column: 220 "... for data type
//   smallint, value = 70000." (SQL Server's error for a literal; it says
//   8115 for a computed value, which venuedb does not tell apart); to int,
//   money or numeric(p, s): 8115 "Arithmetic overflow error converting
//   expression to data type int." ("converting numeric to data type
//   numeric." for numeric); a procedure's parameter: 8114 "Error converting
//   data type int to tinyint.".
TEST_F(SqlTypesTest, ValuesOutOfRangeAreRefusedWithSqlServersError) {
  server_.Exec(
      "CREATE TABLE t(s smallint, b tinyint, i int, n numeric(5,2));"
      "INSERT INTO vdb_procedures VALUES('vt_small', "
      "'@s smallint = 0\n@b tinyint = 0\n@n numeric(5,2) = 0', '')");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"EXEC vt_small @b = 300",
       "ERROR 8114 16 Error converting data type int to tinyint.; DONE "
       "0x0002 0"},
      {"INSERT INTO t(s) VALUES(70000)",
       "ERROR 220 16 Arithmetic overflow error for data type smallint, "
       "value = 70000.; DONE 0x0002 0"},
      {"INSERT INTO t(b) VALUES(300)",
       "ERROR 220 16 Arithmetic overflow error for data type tinyint, "
       "value = 300.; DONE 0x0002 0"},
      {"INSERT INTO t(i) VALUES(3000000000)",
       "ERROR 8115 16 Arithmetic overflow error converting expression to "
       "data type int.; DONE 0x0002 0"},
      {"INSERT INTO t(n) VALUES(1234.5)",
       "ERROR 8115 16 Arithmetic overflow error converting numeric to data "
       "type numeric.; DONE 0x0002 0"},
      {"INSERT INTO t(s) VALUES(1)", "DONE 0x0010 1"},
  };
  for (const auto& [sql, reply] : cases) {
    EXPECT_EQ(DescribeReply(Run(sql), true), reply) << sql;
  }
  EXPECT_EQ(server_.Query("SELECT count(*) FROM t")[0][0], "1");
  const std::vector<std::pair<std::string, std::string>> calls = {
      {RpcParam("@s", 0, "26 04 04 70110100"),
       "ERROR 8114 16 Error converting data type int to smallint."},
      {RpcParam("@b", 0, "26 04 04 2C010000"),
       "ERROR 8114 16 Error converting data type int to tinyint."},
      {RpcParam("@n", 0, "6C 11 12 02 09 01 3AE2010000000000"),
       "ERROR 8114 16 Error converting data type numeric to numeric."},
  };
  for (const auto& [param, reply] : calls) {
    RawClient client(server_.port());
    client.Send(kRpcPacket, RpcPayload("vt_small", param));
    EXPECT_EQ(DescribeReply(client.Receive().value_or(""), true),
              reply + "; DONE 0x0002 0");
  }
}

}  // namespace
}  // namespace venuedb::testing
