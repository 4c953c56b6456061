// The test helper itself: a server that FreeTDS can log in to, a database that
// outlives a restart, direct SQL on the file, and the settings file the library
// reads.
#include "venue_server.h"

#include <gtest/gtest.h>
#include <sybdb.h>
#include <sybfront.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace rondel::testing {
namespace {

int CancelOnError(DBPROCESS*, int, int, int, char*, char*) {
  return INT_CANCEL;
}

// Logs in as sa, selects karaok and reads one integer from sql; -1 when
// anything fails.
int FetchInt(int port, const std::string& sql) {
  static bool ready = [] {
    dbinit();
    dberrhandle(CancelOnError);
    dbsetlogintime(20);
    return true;
  }();
  (void)ready;
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "");
  dbsetlversion(login, DBVERSION_74);
  std::string server = "127.0.0.1:" + std::to_string(port);
  DBPROCESS* p = dbopen(login, server.c_str());
  dbloginfree(login);
  if (!p) return -1;
  int value = -1;
  DBINT fetched = 0;
  if (dbuse(p, "karaok") == SUCCEED && dbcmd(p, sql.c_str()) == SUCCEED &&
      dbsqlexec(p) == SUCCEED && dbresults(p) == SUCCEED &&
      dbbind(p, 1, INTBIND, 0, reinterpret_cast<BYTE*>(&fetched)) == SUCCEED) {
    while (dbnextrow(p) != NO_MORE_ROWS) value = fetched;
  }
  dbclose(p);
  return value;
}

TEST(VenueServerTest, ServesFreshDatabaseOverFreeTds) {
  VenueServer server;
  ASSERT_GT(server.port(), 0);
  EXPECT_EQ(server.address(), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_EQ(FetchInt(server.port(), "select count(*) from medias"), 0);
  // The login reached the server's journal.
  auto rows =
      server.Query("SELECT login, ok FROM vdb_journal WHERE kind='login'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "sa");
  EXPECT_EQ(rows[0][1], "1");
}

TEST(VenueServerTest, ExecAndQueryWorkOnTheFileWhileServing) {
  VenueServer server;
  server.Exec(
      "CREATE TABLE t(a INTEGER, b TEXT); INSERT INTO t VALUES(7, NULL), (8, "
      "'x\xD6\xDC');");
  auto rows = server.Query("SELECT a, b FROM t ORDER BY a");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "7");
  EXPECT_EQ(rows[0][1], std::nullopt);
  EXPECT_EQ(rows[1][1], std::string("x\xD6\xDC"));
  EXPECT_EQ(FetchInt(server.port(), "select sum(a) from t"), 15);
}

TEST(VenueServerTest, RestartKeepsDatabaseAndTakesNewPort) {
  VenueServer server;
  server.Exec("CREATE TABLE kept(v INTEGER); INSERT INTO kept VALUES(41);");
  server.Stop();
  EXPECT_EQ(server.port(), 0);
  EXPECT_TRUE(std::filesystem::exists(server.db_path()));
  server.Start();
  ASSERT_GT(server.port(), 0);
  EXPECT_EQ(FetchInt(server.port(), "select v + 1 from kept"), 42);
}

TEST(VenueServerTest, StoppedServerRefusesConnections) {
  VenueServer server;
  int port = server.port();
  server.Stop();
  EXPECT_EQ(FetchInt(port, "select 1"), -1);
}

TEST(VenueServerTest, SettingsFilePointsAtServer) {
  VenueServer server;
  std::string path = server.WriteSettingsFile("10.1.2.3");
  EXPECT_EQ(std::filesystem::path(path).parent_path(), server.folder());
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(
      text.str(),
      "[MainServer]\r\nDataBaseServerIp=127.0.0.1\r\nDataBaseServerPort=" +
          std::to_string(server.port()) +
          "\r\nUserName=sa\r\nPassWord=\r\nFileServerIP=10.1.2.3\r\n[KTV]\r\n"
          "DataBaseName=karaok\r\n");
}

TEST(VenueServerTest, FolderIsRemovedWithServer) {
  std::string folder;
  {
    VenueServer server;
    folder = server.folder();
    EXPECT_TRUE(std::filesystem::is_directory(folder));
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace rondel::testing
