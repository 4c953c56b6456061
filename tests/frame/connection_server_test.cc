// Connection opening against venuedb: what the login carries, settings re-read
// between connections, refused logins and unknown databases, and bytes of code
// page 936.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "database_test.h"
#include "files.h"
#include "frame/exchange.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "rondel.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;
using testing::UnsetEnv;

using testing::WriteFileBytes;

class ConnectionTest : public testing::DatabaseTest {
 protected:
  std::vector<testing::Row> Connections() {
    return venue_.Query(
        "SELECT login, password, app, database, tds_version, refused, "
        "closed_us IS NOT NULL "
        "FROM vdb_connections ORDER BY conn_id");
  }

  // Makes the database's default collation `collation` and points the
  // library at the server with ClientCharset=`client_charset`.
  void UseCollation(const std::string& collation,
                    const std::string& client_charset) {
    venue_.Exec("INSERT OR REPLACE INTO vdb_settings VALUES('collation', '" +
                collation + "')");
    const std::string path = scratch_.File("charset.ini");
    WriteFileBytes(path, "[MainServer]\nDataBaseServerIp=" + venue_.address() +
                             "\nClientCharset=" + client_charset + "\n");
    ReadStartupSettings(path.c_str());
  }

  // Sends `text` to frame_echo (which the test defines to select its @s) in
  // an exchange of its own; true when the call answered one row, whose text
  // is then in *echoed.
  bool Echo(const std::string& text, std::string* echoed) {
    char buffer[512] = "";
    long rows = 0;
    Exchange x;
    if (!x.Call("frame_echo", {Param::Text("@s", text.c_str())})) return false;
    const bool read = x.ReadRows(
        {Column::Text(1, buffer, sizeof buffer)}, [] { return true; }, &rows);
    *echoed = buffer;
    return read && rows == 1;
  }
};

TEST_F(ConnectionTest, SettingsNamingOnlyTheServerLogInAsSaToKaraokWithTds74) {
  std::string path = scratch_.File("port-only.ini");
  WriteFileBytes(path,
                 "[MainServer]\nDataBaseServerIp=" + venue_.address() + "\n");
  ReadStartupSettings(path.c_str());
  {
    Exchange x;
    EXPECT_TRUE(x.connected());
  }
  auto rows = Connections();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("sa", rows[0][0]);
  EXPECT_EQ("", rows[0][1]);
  EXPECT_EQ("db", rows[0][2]);
  EXPECT_EQ("karaok", rows[0][3]);
  EXPECT_EQ("7.4", rows[0][4]);
  EXPECT_EQ("0", rows[0][5]);
  auto use = venue_.Query("SELECT text, ok FROM vdb_journal WHERE kind='use'");
  ASSERT_EQ(1u, use.size());
  EXPECT_EQ("karaok", use[0][0]);
  EXPECT_EQ("1", use[0][1]);
  EXPECT_TRUE(AllConnectionsClosed());
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(ConnectionTest, LoadDBOptionsTakesEffectAtTheNextConnection) {
  venue_.Exec(
      "INSERT INTO vdb_logins(name, password, default_database) "
      "VALUES('video', 'k9pw', "
      "'master'); INSERT INTO vdb_databases(name) VALUES('ktv2')");
  { Exchange first; }
  std::string path = scratch_.File("other.ini");
  WriteFileBytes(
      path, "[MainServer]\nDataBaseServerIp=" + venue_.address() +
                "\nUserName=video\nPassWord=k9pw\n[KTV]\nDataBaseName=ktv2\n");
  EXPECT_TRUE(LoadDBOptions(path.c_str()));
  {
    Exchange second;
    EXPECT_TRUE(second.connected());
  }
  auto rows = Connections();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("sa", rows[0][0]);
  EXPECT_EQ("video", rows[1][0]);
  EXPECT_EQ(std::string("k9pw"), rows[1][1]);
  EXPECT_EQ("ktv2", rows[1][3]);
}

TEST_F(ConnectionTest, RefusedLoginLogsServerLineAndLeavesNothingOpen) {
  venue_.Exec("INSERT INTO vdb_faults VALUES('refuse_login', '*', 0)");
  {
    Exchange x;
    EXPECT_FALSE(x.connected());
    EXPECT_FALSE(x.Call("sp_getfileservers", {}));
  }
  EXPECT_EQ(1, log_.Count(std::string("login database server \"127.0.0.1") +
                          "\" error"));
  EXPECT_EQ(0, log_.CountContaining("use database"));
  auto rows = Connections();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("1", rows[0][5]);
  EXPECT_TRUE(AllConnectionsClosed());

  // Only the fault stood in the way: the next exchange logs in.
  venue_.Exec("DELETE FROM vdb_faults");
  Exchange y;
  EXPECT_TRUE(y.connected());
}

// A failed opening names the server's host:port: with the server's own
// message when it refused the login, with no answer when nothing listens.
TEST_F(ConnectionTest, FailedLoginLogsTheServersMessageOrThatNothingAnswered) {
  testing::RefusingPort refusing;
  struct Case {
    std::string settings;
    std::string line;
  };
  const std::string venue = "127.0.0.1:" + std::to_string(venue_.port());
  const std::string nothing = "127.0.0.1:" + std::to_string(refusing.port());
  const Case cases[] = {
      {"DataBaseServerPort=" + std::to_string(venue_.port()) +
           "\nPassWord=wrong\n",
       venue + " says 18456 (class 14, state 1): Login failed for user 'sa'."},
      {"DataBaseServerPort=" + std::to_string(refusing.port()) + "\n",
       "connecting to " + nothing + " failed"},
  };
  for (const Case& c : cases) {
    const size_t before = log_.Lines().size();
    std::string path = scratch_.File("login.ini");
    WriteFileBytes(path,
                   "[MainServer]\nDataBaseServerIp=127.0.0.1\n" + c.settings);
    ReadDatabaseSettings(path.c_str());
    {
      Exchange x;
      EXPECT_FALSE(x.connected());
    }
    const std::vector<std::string> lines = log_.Lines();
    EXPECT_EQ(std::count(lines.begin() + static_cast<std::ptrdiff_t>(before),
                         lines.end(), c.line),
              1)
        << c.line;
  }
}

TEST_F(ConnectionTest, UnknownDatabaseLogsUseLineAndClosesTheConnection) {
  std::string path = scratch_.File("nosuch.ini");
  WriteFileBytes(path, "[MainServer]\nDataBaseServerIp=" + venue_.address() +
                           "\n[KTV]\nDataBaseName=nosuch\n");
  ReadDatabaseSettings(path.c_str());
  {
    Exchange x;
    EXPECT_FALSE(x.connected());
    EXPECT_FALSE(x.Sql("select count(*) from medias"));
  }
  EXPECT_EQ(1, log_.Count("use database \"nosuch\" error"));
  EXPECT_EQ(0, log_.CountContaining("login database server"));
  auto use = venue_.Query("SELECT text, ok FROM vdb_journal WHERE kind='use'");
  ASSERT_EQ(1u, use.size());
  EXPECT_EQ("0", use[0][1]);
  // The closed connection was not used: nothing but the login and the use
  // reached it.
  auto kinds = venue_.Query(
      "SELECT count(*) FROM vdb_journal WHERE kind IN ('batch','rpc')");
  EXPECT_EQ("0", kinds[0][0]);
  EXPECT_TRUE(AllConnectionsClosed());
}

TEST_F(ConnectionTest, CodePage936BytesTravelUnchangedBothWays) {
  const char kName[] = "\xD6\xDC\xBD\xDC\xC2\xD7";  // three GBK characters
  DefineProcedure("frame_echo", "@s varchar(200) = NULL",
                  "SELECT @s AS echoed");
  std::string echoed;
  ASSERT_TRUE(Echo(kName, &echoed));
  EXPECT_EQ(kName, echoed);
  auto sent =
      venue_.Query("SELECT value FROM vdb_journal_params WHERE name='@s'");
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(std::string(kName), sent[0][0]);
  // No character-conversion complaint was logged (only, perhaps, the end of
  // an earlier test's outage).
  for (const std::string& line : log_.Lines()) {
    EXPECT_NE(line.find("\" answers again"), std::string::npos) << line;
  }
}

TEST_F(ConnectionTest, ExitDatabaseWaitsForTheExchangeInFlight) {
  DefineProcedure("frame_slow", "@a int = 0", "SELECT 5 AS n");
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('delay_procedure', 'frame_slow', 400)");
  std::atomic<bool> connected{false};
  int32_t n = 0;
  bool read = false;
  std::thread host_thread([&] {
    Exchange x;
    connected = x.connected();
    read = x.Call("frame_slow", {}) &&
           x.ReadRows({Column::Int(1, &n)}, [] { return true; });
  });
  while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ExitDatabase();  // the client library ends only after the exchange did
  host_thread.join();
  EXPECT_TRUE(read);
  EXPECT_EQ(5, n);
  Exchange after;
  EXPECT_FALSE(after.connected());
  EXPECT_EQ(1, log_.Count("dblogin() error"));
}

// The server's port comes from its own key; the address setting stays an
// address (it is also sent as a room address), and an address that already
// carries a port keeps working.
TEST_F(ConnectionTest, PortKeyJoinsTheAddressOnlyForTheConnection) {
  const std::string port = std::to_string(venue_.port());
  struct Case {
    std::string settings;
    const char* address_kept;
    bool connects;
  };
  const Case cases[] = {
      {"DataBaseServerIp=127.0.0.1\nDataBaseServerPort=" + port, "127.0.0.1",
       true},
      // 15 characters of address and the port make more than the address
      // setting's 19: joined, nothing may be cut.
      {"DataBaseServerIp=127.000.000.001\nDataBaseServerPort=" + port,
       "127.000.000.001", true},
      {"DataBaseServerIp=127.0.0.1:" + port, nullptr, true},
      {"DataBaseServerIp=127.0.0.1:" + port + "\nDataBaseServerPort=1", nullptr,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    std::string path = scratch_.File("port.ini");
    WriteFileBytes(path, "[MainServer]\n" + c.settings + "\n");
    EXPECT_TRUE(LoadDBOptions(path.c_str()));
    if (c.address_kept != nullptr) {
      EXPECT_STREQ(c.address_kept, CurrentSettings().database_server_ip);
    }
    Exchange x;
    EXPECT_EQ(c.connects, x.connected());
  }
}

TEST_F(ConnectionTest, TimeOutOverrideEndsAStalledCall) {
  DefineProcedure("frame_stalled", "@a int = 0", "SELECT 5 AS n");
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('delay_procedure', 'frame_stalled', "
      "20000)");
  SetEnv("RONDEL_DB_TIMEOUT", "1");
  {
    Exchange x;
    ASSERT_TRUE(x.connected());
    EXPECT_FALSE(x.Call("frame_stalled", {}));  // not the 20 s the server takes
  }
  UnsetEnv("RONDEL_DB_TIMEOUT");
  venue_.Exec("DELETE FROM vdb_faults");
  Exchange y;
  int32_t n = 0;
  EXPECT_TRUE(y.Call("frame_stalled", {}) &&
              y.ReadRows({Column::Int(1, &n)}, [] { return true; }));
  EXPECT_EQ(n, 5);
}

// ClientCharset=server: the first opening asks the database its code page and
// logs in again when that is not the set it used; later openings name it at
// once. Either way a text's bytes (GBK bytes, in a Latin-1 venue too) come
// back as they were sent.
struct ServerCharsetCase {
  const char* name;
  const char* collation;
  int logins;  // for two exchanges
  const char* logged;
};

class ServerCharsetTest
    : public ConnectionTest,
      public ::testing::WithParamInterface<ServerCharsetCase> {};

TEST_P(ServerCharsetTest, LearnsTheCodePageOnceAndKeepsBytes) {
  const ServerCharsetCase& c = GetParam();
  UseCollation(c.collation, "Server");
  const char kName[] =
      "\xB0\xFC\xCF\xE1 \xD6\xD0\xA1\xA1";  // 包厢 中 and a space
  DefineProcedure("frame_echo", "@s varchar(200) = NULL",
                  "SELECT @s AS echoed");
  for (int i = 0; i < 2; ++i) {
    std::string echoed;
    ASSERT_TRUE(Echo(kName, &echoed));
    EXPECT_EQ(kName, echoed);
  }
  EXPECT_EQ(static_cast<size_t>(c.logins), Connections().size());
  EXPECT_EQ("1",
            venue_.Query("SELECT count(*) FROM vdb_journal WHERE kind ="
                         " 'batch' AND text LIKE '%COLLATIONPROPERTY%'")[0][0]);
  std::string logged = c.logged;
  logged.replace(logged.find("PORT"), 4, std::to_string(venue_.port()));
  EXPECT_EQ(std::vector<std::string>{logged}, log_.Lines());
}

INSTANTIATE_TEST_SUITE_P(
    Collations, ServerCharsetTest,
    ::testing::Values(
        ServerCharsetCase{
            "Chinese", "Chinese_PRC_CI_AS", 2,
            "ClientCharset=server: 127.0.0.1:PORT \"karaok\" keeps "
            "code page 936; texts are read as GB18030"},
        ServerCharsetCase{
            "Latin1", "SQL_Latin1_General_CP1_CI_AS", 3,
            "ClientCharset=server: 127.0.0.1:PORT \"karaok\" keeps "
            "code page 1252; texts are read as CP1252"}),
    [](const auto& info) { return std::string(info.param.name); });

// A Latin-1 venue holding GBK bytes, read and written with
// ClientCharset=CP1252: every byte comes back as sent, but those this system's
// converter refuses to send, whose calls fail with the connection alive.
TEST_F(ConnectionTest, Latin1VenueTakesEveryByteTheConverterSends) {
  UseCollation("SQL_Latin1_General_CP1_CI_AS", "CP1252");
  DefineProcedure("frame_echo", "@s varchar(300) = NULL",
                  "SELECT @s AS echoed");
  const std::string refused = testing::Cp1252BytesRefusedOnSend();
  std::string sent = "A";
  for (int byte = 1; byte < 256; ++byte) {
    if (refused.find(static_cast<char>(byte)) == std::string::npos) {
      sent += static_cast<char>(byte);
    }
  }
  sent += "Z";
  std::string echoed;
  ASSERT_TRUE(Echo(sent, &echoed));
  EXPECT_EQ(sent, echoed);
  for (char byte : refused) {
    EXPECT_FALSE(Echo(std::string("A") + byte + "Z", &echoed)) << int(byte);
  }
  EXPECT_TRUE(Echo("AZ", &echoed));  // the connection is still usable
}

}  // namespace
}  // namespace rondel
