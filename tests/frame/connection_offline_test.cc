// Connection opening where no database answers: the server the settings name,
// the log lines of each failure, and the no-connection path when the client
// library is not started.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "captured_log.h"
#include "files.h"
#include "frame/exchange.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "rondel.h"
#include "scratch_dir.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;

using testing::CapturedLog;
using testing::RefusingPort;
using testing::ScratchDir;
using testing::WriteFileBytes;

class OfflineConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    ASSERT_TRUE(StartDbLibrary());
  }
  std::string SettingsWithServer(const std::string& server) {
    std::string path = scratch_.File("Korvane.ini");
    WriteFileBytes(path, "[MainServer]\nDataBaseServerIp=" + server + "\n");
    return path;
  }
  bool OpenOnce() {
    platform::LockHolder hold(CatalogueLock());
    return Session::Open().valid();
  }

  ScratchDir scratch_;
  CapturedLog log_{scratch_.File("frame.log")};
};

TEST_F(OfflineConnectionTest,
       MissingSettingsFileTargetsLocalServerWithDefaults) {
  std::string missing = scratch_.File("absent.ini");
  SetEnv("RONDEL_SETTINGS_FILE", missing);
  ReadStartupSettings(SettingsFilePath().c_str());
  const Settings& s = CurrentSettings();
  EXPECT_STREQ("127.0.0.1", s.database_server_ip);
  EXPECT_STREQ("karaok", s.database_name);
  EXPECT_STREQ("sa", s.user_name);
  EXPECT_STREQ("", s.password);
  EXPECT_STREQ("", s.file_server_ip);

  // Nothing listens on the default port inside the test's network namespace.
  EXPECT_FALSE(OpenOnce());
  EXPECT_EQ(1, log_.Count("login database server \"127.0.0.1\" error"));
}

TEST_F(OfflineConnectionTest,
       RefusedPortLogsOneLineAndComesBackWithoutConnection) {
  RefusingPort refusing;
  ASSERT_NE(0, refusing.port());
  std::string server = "127.0.0.1:" + std::to_string(refusing.port());
  ReadDatabaseSettings(SettingsWithServer(server).c_str());

  EXPECT_FALSE(OpenOnce());
  EXPECT_EQ(1, log_.Count("login database server \"" + server + "\" error"));
  EXPECT_EQ(1, log_.CountContaining("login database server"));
  EXPECT_EQ(0, log_.CountContaining("use database"));
  // The client library's own text about the refused connection comes through
  // the handler.
  EXPECT_GE(log_.Lines().size(), 2u);

  // The process is still here and the next attempt fails the same way.
  EXPECT_FALSE(OpenOnce());
  EXPECT_EQ(2, log_.CountContaining("login database server"));
}

TEST_F(OfflineConnectionTest, LongServerAddressKeepsNineteenCharacters) {
  RefusingPort refusing;
  ASSERT_GE(refusing.port(), 10000);  // five digits
  // "127.0.0.1:0000" + port is 19 characters; six more make 25.
  std::string kept = "127.0.0.1:0000" + std::to_string(refusing.port());
  ASSERT_EQ(19u, kept.size());
  ReadStartupSettings(SettingsWithServer(kept + "999999").c_str());
  EXPECT_STREQ(kept.c_str(), CurrentSettings().database_server_ip);

  EXPECT_FALSE(OpenOnce());
  EXPECT_EQ(1, log_.Count("login database server \"" + kept + "\" error"));
}

TEST_F(OfflineConnectionTest,
       LoadDBOptionsOnMissingFileRestoresDefaultsForNextConnection) {
  RefusingPort refusing;
  std::string path = scratch_.File("named.ini");
  WriteFileBytes(
      path, "[MainServer]\nDataBaseServerIp=127.0.0.1:" +
                std::to_string(refusing.port()) +
                "\nUserName=bob\nPassWord=pw\n[KTV]\nDataBaseName=other\n");
  EXPECT_TRUE(LoadDBOptions(path.c_str()));
  EXPECT_STREQ("bob", CurrentSettings().user_name);

  EXPECT_TRUE(LoadDBOptions(scratch_.File("absent.ini").c_str()));
  EXPECT_STREQ("127.0.0.1", CurrentSettings().database_server_ip);
  EXPECT_STREQ("karaok", CurrentSettings().database_name);
  EXPECT_STREQ("sa", CurrentSettings().user_name);
  EXPECT_STREQ("", CurrentSettings().password);
  EXPECT_FALSE(OpenOnce());
  EXPECT_EQ(1, log_.Count("login database server \"127.0.0.1\" error"));

  EXPECT_TRUE(LoadDBOptions(nullptr));
  EXPECT_STREQ("127.0.0.1", CurrentSettings().database_server_ip);
}

TEST_F(OfflineConnectionTest,
       StoppedLibraryTakesNoConnectionPathWithoutCallingIt) {
  RefusingPort refusing;
  ReadDatabaseSettings(
      SettingsWithServer("127.0.0.1:" + std::to_string(refusing.port()))
          .c_str());
  ExitDatabase();
  ExitDatabase();  // the second call does nothing
  EXPECT_FALSE(DbLibraryStarted());
  {
    Exchange x;
    EXPECT_FALSE(x.connected());
    int32_t out = 5;
    EXPECT_FALSE(x.Call("sp_anything", {Param::IntOutput("@out", &out)}));
    EXPECT_FALSE(x.Sql("select 1"));
    EXPECT_FALSE(x.ReadRows({Column::Int(1, &out)}, [] { return true; }));
    EXPECT_EQ(0u, x.HarvestReturns({ReturnTarget::Int("@out", &out)}));
    EXPECT_FALSE(x.HasReturnStatus());
    EXPECT_EQ(5, out);
    EXPECT_FALSE(x.Reconnect());
  }
  // Two attempts, two lines, and DB-Library was never asked to connect.
  EXPECT_EQ(2, log_.Count("dblogin() error"));
  EXPECT_EQ(0, log_.CountContaining("login database server"));

  // The lock was released on the way out: a fresh start works again.
  ASSERT_TRUE(StartDbLibrary());
  EXPECT_FALSE(OpenOnce());
  EXPECT_EQ(1, log_.CountContaining("login database server"));
}

TEST_F(OfflineConnectionTest, ExceptionInsideExchangeReleasesTheLock) {
  RefusingPort refusing;
  ReadDatabaseSettings(
      SettingsWithServer("127.0.0.1:" + std::to_string(refusing.port()))
          .c_str());
  EXPECT_THROW(
      {
        Exchange x;
        throw 1;
      },
      int);
  // Not re-entrant: a lock still held would block here forever.
  Exchange again;
  EXPECT_FALSE(again.connected());
}

// InitialDatabase with no settings file: the start-up connection goes to
// 127.0.0.1 and the log goes to "rondel.log" in the working directory.
TEST_F(OfflineConnectionTest,
       InitialDatabaseWithoutSettingsFileLogsLocalServer) {
  std::string missing = scratch_.File("absent.ini");
  SetEnv("RONDEL_SETTINGS_FILE", missing);
  // The offline start reads (and creates) the snapshot folder: keep it here.
  SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.File("VideoServertable"));
  char here[4096];
  ASSERT_NE(nullptr, getcwd(here, sizeof here));
  ASSERT_EQ(0, chdir(scratch_.path().c_str()));
  InitialDatabase();
  ASSERT_EQ(0, chdir(here));
  EXPECT_TRUE(DbLibraryStarted());
  EXPECT_STREQ("127.0.0.1", CurrentSettings().database_server_ip);
  CapturedLog start_log(scratch_.File("rondel.log"));
  EXPECT_GE(start_log.Count("login database server \"127.0.0.1\" error"), 1);
  ExitDatabase();
  EXPECT_FALSE(DbLibraryStarted());
}

// RONDEL_LOG_FILE puts the log elsewhere than the working directory; there a
// start with neither a database nor a snapshot set says it serves nothing.
TEST_F(OfflineConnectionTest, LogFileVariableMovesTheLogOfAStartFromNothing) {
  SetEnv("RONDEL_SETTINGS_FILE", scratch_.File("absent.ini"));
  SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.File("VideoServertable"));
  SetEnv("RONDEL_LOG_FILE", scratch_.File("venue.log"));
  char here[4096];
  ASSERT_NE(nullptr, getcwd(here, sizeof here));
  ASSERT_EQ(0, chdir(scratch_.path().c_str()));
  InitialDatabase();
  ASSERT_EQ(0, chdir(here));
  ExitDatabase();
  SetEnv("RONDEL_LOG_FILE", "");
  CapturedLog start_log(scratch_.File("venue.log"));
  EXPECT_EQ(1,
            start_log.Count(
                "started from nothing, every lookup will fail (the "
                "database 127.0.0.1 \"karaok\" does not answer; no whole "
                "snapshot set: TABLE_RECORDS.tbl: missing): 0 media, 0 rooms, "
                "0 file servers"));
  EXPECT_FALSE(testing::PathExists(scratch_.File("rondel.log")));
}

}  // namespace
}  // namespace rondel
