#include "frame/settings.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "captured_log.h"
#include "files.h"
#ifndef _WIN32
#include "platform/syscall_test_hooks.h"
#endif
#include "scratch_dir.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;
using testing::UnsetEnv;

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEnv("RONDEL_SETTINGS_FILE", path_); }
  void TearDown() override { UnsetEnv("RONDEL_SETTINGS_FILE"); }

  ScratchDir dir_;
  std::string path_ = dir_.File("Korvane.ini");
};

// Each test runs in its own process, so this one sees the buffers as the
// library was loaded.
TEST(SettingsInitialTest, BuffersHoldLoadTimeValuesBeforeAnyRead) {
  Settings& settings = CurrentSettings();
  EXPECT_STREQ(settings.user_name, "sa");
  EXPECT_STREQ(settings.database_name, "karaok");
  EXPECT_STREQ(settings.file_server_ip, "");
  EXPECT_STREQ(settings.database_server_ip, "");
  EXPECT_STREQ(settings.password, "");
  EXPECT_STREQ(settings.client_charset, "GB18030");
}

// The venue's fixed settings path on each system.
#ifdef _WIN32
constexpr char kFixedSettingsPath[] = "C:\\Korvane\\Korvane.ini";
#else
constexpr char kFixedSettingsPath[] = "/etc/korvane/Korvane.ini";
#endif

TEST(SettingsPathTest, EnvironmentReplacesTheFixedPath) {
  UnsetEnv("RONDEL_SETTINGS_FILE");
  EXPECT_EQ(SettingsFilePath(), kFixedSettingsPath);
  SetEnv("RONDEL_SETTINGS_FILE", "");
  EXPECT_EQ(SettingsFilePath(), kFixedSettingsPath);
  SetEnv("RONDEL_SETTINGS_FILE", "/tmp/other.ini");
  EXPECT_EQ(SettingsFilePath(), "/tmp/other.ini");
  UnsetEnv("RONDEL_SETTINGS_FILE");
}

TEST_F(SettingsTest, NoFileGivesDefaults) {
  Settings& settings = CurrentSettings();
  std::strcpy(settings.file_server_ip, "stale");
  std::strcpy(settings.password, "stale");
  ReadStartupSettings(path_.c_str());
  EXPECT_STREQ(settings.file_server_ip, "");
  EXPECT_STREQ(settings.database_server_ip, "127.0.0.1");
  EXPECT_STREQ(settings.database_name, "karaok");
  EXPECT_STREQ(settings.user_name, "sa");
  EXPECT_STREQ(settings.password, "");
  EXPECT_STREQ(settings.client_charset, "GB18030");
}

TEST_F(SettingsTest, StartupReadTakesEveryValueFromItsSection) {
  WriteFileBytes(path_,
                 "[MainServer]\r\n"
                 "FileServerIP=10.0.0.9\r\n"
                 "DataBaseServerIp=10.0.0.2\r\n"
                 "UserName=venue\r\n"
                 "PassWord=p@ss word\r\n"
                 "ClientCharset=CP936\r\n"
                 "DataBaseName=wrong-section\r\n"
                 "[KTV]\r\n"
                 "DataBaseName=karaok2\r\n");
  ReadStartupSettings(path_.c_str());
  Settings& settings = CurrentSettings();
  EXPECT_STREQ(settings.file_server_ip, "10.0.0.9");
  EXPECT_STREQ(settings.database_server_ip, "10.0.0.2");
  EXPECT_STREQ(settings.database_name, "karaok2");
  EXPECT_STREQ(settings.user_name, "venue");
  EXPECT_STREQ(settings.password, "p@ss word");
  EXPECT_STREQ(settings.client_charset, "CP936");
}

TEST_F(SettingsTest, LongValuesAreCutToTheReadLength) {
  const std::string long_text(300, 'n');
  WriteFileBytes(path_,
                 "[MainServer]\n"
                 "FileServerIP=1234567890123456789012345\n"
                 "DataBaseServerIp=abcdefghijklmnopqrstuvwxy\n"
                 "UserName=" +
                     long_text +
                     "\n"
                     "PassWord=" +
                     long_text +
                     "\n"
                     "ClientCharset=" +
                     long_text +
                     "\n"
                     "[KTV]\n"
                     "DataBaseName=" +
                     long_text + "\n");
  ReadStartupSettings(path_.c_str());
  Settings& settings = CurrentSettings();
  EXPECT_EQ(std::string(settings.file_server_ip), "1234567890123456789");
  EXPECT_EQ(std::string(settings.database_server_ip), "abcdefghijklmnopqrs");
  EXPECT_EQ(std::string(settings.database_name), std::string(254, 'n'));
  EXPECT_EQ(std::string(settings.user_name), std::string(254, 'n'));
  EXPECT_EQ(std::string(settings.password), std::string(254, 'n'));
  EXPECT_EQ(std::string(settings.client_charset), std::string(63, 'n'));
}

TEST_F(SettingsTest, DatabaseReadLeavesFileServerAlone) {
  std::strcpy(CurrentSettings().file_server_ip, "10.9.9.9");
  std::string other = dir_.File("Other.ini");
  WriteFileBytes(
      other,
      "[MainServer]\nFileServerIP=10.1.1.1\nDataBaseServerIp=10.0.0.3\n"
      "UserName=u\nPassWord=p\n[KTV]\nDataBaseName=d\n");
  ReadDatabaseSettings(other.c_str());
  Settings& settings = CurrentSettings();
  EXPECT_STREQ(settings.file_server_ip, "10.9.9.9");
  EXPECT_STREQ(settings.database_server_ip, "10.0.0.3");
  EXPECT_STREQ(settings.database_name, "d");
  EXPECT_STREQ(settings.user_name, "u");
  EXPECT_STREQ(settings.password, "p");

  ReadDatabaseSettings(dir_.File("missing.ini").c_str());
  EXPECT_STREQ(settings.file_server_ip, "10.9.9.9");
  EXPECT_STREQ(settings.database_server_ip, "127.0.0.1");
  EXPECT_STREQ(settings.database_name, "karaok");
  EXPECT_STREQ(settings.user_name, "sa");
  EXPECT_STREQ(settings.password, "");
}

TEST_F(SettingsTest, RandPlayTypeSurvivesInTheSettingsFile) {
  EXPECT_EQ(RestoreRandPlayType(), 2);  // no file yet
  PersistRandPlayType(7);
  // The system's writer chooses the line ends (Windows: CR LF).
  std::string written = ReadFileBytes(path_);
  written.erase(std::remove(written.begin(), written.end(), '\r'),
                written.end());
  EXPECT_EQ(written, "[VideoServer]\nRandPlayType=7\n");
  EXPECT_EQ(RestoreRandPlayType(), 7);
}

TEST_F(SettingsTest, RandPlayTypeKeepsTheRestOfTheFile) {
  const std::string head = "[MainServer]\r\nUserName=sa\r\n";
  WriteFileBytes(
      path_,
      head + "[VideoServer]\r\nRandPlayType=11\r\n[KTV]\r\nDataBaseName=k\r\n");
  PersistRandPlayType(-5);
  EXPECT_EQ(
      ReadFileBytes(path_),
      head + "[VideoServer]\r\nRandPlayType=-5\r\n[KTV]\r\nDataBaseName=k\r\n");
  EXPECT_EQ(RestoreRandPlayType(), -5);
  PersistRandPlayType(-2147483647 - 1);
  EXPECT_EQ(RestoreRandPlayType(), -2147483647 - 1);
  PersistRandPlayType(0);
  EXPECT_EQ(RestoreRandPlayType(), 0);
}

TEST_F(SettingsTest, RandPlayTypeWithoutKeyIsTwo) {
  WriteFileBytes(path_, "[VideoServer]\nOther=1\n");
  EXPECT_EQ(RestoreRandPlayType(), 2);
}

#ifndef _WIN32  // Linux only: file modes and failures injected through the
                // system-call table
TEST_F(SettingsTest, RandPlayTypeNotSavedSaysWhy) {
  testing::CapturedLog log(dir_.File("rondel.log"));
  const std::string before = "[VideoServer]\nRandPlayType=3\n";
  WriteFileBytes(path_, before);
  chmod(path_.c_str(), 0444);  // no write bit: left alone, by root too
  const platform::FileError error = PersistRandPlayType(7);
  EXPECT_EQ(
      std::make_tuple(error.ToString(), ReadFileBytes(path_)),
      std::make_tuple("write \"" + path_ + "\": Permission denied", before));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"RandPlayType not saved: " +
                                                  error.ToString()});
}

int RefuseOpen(const char*, int, mode_t) {
  errno = EACCES;
  return -1;
}

// A settings file the library cannot read, and the reason the log gives.
struct Unreadable {
  const char* name;
  void (*arrange)(const std::string& path);
  const char* step;
  int error_number;
};

void PrintTo(const Unreadable& c, std::ostream* os) { *os << c.name; }

class UnreadableSettingsTest
    : public SettingsTest,
      public ::testing::WithParamInterface<Unreadable> {
 protected:
  void TearDown() override {
    platform::ResetSyscalls();
    SettingsTest::TearDown();
  }
};

TEST_P(UnreadableSettingsTest, GivesDefaultsAndOneLineWithTheReason) {
  const Unreadable& c = GetParam();
  testing::CapturedLog log(dir_.File("rondel.log"));
  c.arrange(path_);
  Settings& settings = CurrentSettings();
  std::strcpy(settings.user_name, "stale");
  std::strcpy(settings.database_server_ip, "stale");
  ReadStartupSettings(path_.c_str());
  platform::ResetSyscalls();
  EXPECT_EQ(std::make_tuple(std::string(settings.user_name),
                            std::string(settings.database_server_ip),
                            std::string(settings.database_name)),
            std::make_tuple("sa", "127.0.0.1", "karaok"));
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{
                "settings file: " + std::string(c.step) + " \"" + path_ +
                "\": " + platform::ErrorText(c.error_number) +
                "; the defaults are used"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableSettingsTest,
    ::testing::Values(
        Unreadable{"Missing", [](const std::string&) {}, "open", ENOENT},
        Unreadable{"Directory",
                   [](const std::string& path) { mkdir(path.c_str(), 0755); },
                   "read", EISDIR},
        // As root no mode keeps a file from being read: the open is refused.
        Unreadable{"NoPermission",
                   [](const std::string& path) {
                     WriteFileBytes(path, "[MainServer]\nUserName=boss\n");
                     platform::SyscallFunctions calls;
                     calls.open = &RefuseOpen;
                     platform::ReplaceSyscalls(calls);
                   },
                   "open", EACCES}),
    [](const ::testing::TestParamInfo<Unreadable>& info) {
      return std::string(info.param.name);
    });

#endif  // _WIN32

}  // namespace
}  // namespace rondel
