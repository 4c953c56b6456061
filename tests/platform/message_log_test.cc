#include "platform/message_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

namespace rondel {
namespace platform {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::regex kEntry(
    R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) (.*))");

class MessageLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MessageLog log;
    log.SetLogFileName(path_.c_str());
    log.EnableFileOutput(true);
    log.EnableScreenOutput(false);
  }

  TempDir dir_;
  std::string path_ = dir_.File("rondel.log");
};

TEST_F(MessageLogTest, EntryIsOneStampedLine) {
  MessageLog log;
  log.AddLog("connection to 127.0.0.1 failed");
  log.AddLog("");
  log.AddLog(nullptr);
  std::string text = ReadWholeFile(path_);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, kEntry)) << lines[0];
  EXPECT_EQ(match[8].str(), "connection to 127.0.0.1 failed");
  int month = std::stoi(match[2].str());
  int hour = std::stoi(match[4].str());
  EXPECT_GE(month, 1);
  EXPECT_LE(month, 12);
  EXPECT_LE(hour, 23);
  ASSERT_TRUE(std::regex_match(lines[1], match, kEntry)) << lines[1];
  EXPECT_EQ(match[8].str(), "");
}

TEST_F(MessageLogTest, SwitchesAreSharedByEveryInstance) {
  MessageLog
      early;  // made before the switches change, like the module-wide log
  {
    MessageLog configuring;
    configuring.EnableFileOutput(false);
  }
  early.AddLog("not written");
  EXPECT_FALSE(testing::Exists(path_));

  MessageLog().EnableFileOutput(true);
  early.AddLog("written");
  EXPECT_EQ(Lines(ReadWholeFile(path_)).size(), 1u);

  std::string moved = dir_.File("other.log");
  MessageLog().SetLogFileName(moved.c_str());
  early.AddLog("elsewhere");
  EXPECT_EQ(Lines(ReadWholeFile(path_)).size(), 1u);
  EXPECT_EQ(Lines(ReadWholeFile(moved)).size(), 1u);

  MessageLog().SetLogFileName("");
  early.AddLog("nowhere");
  EXPECT_EQ(Lines(ReadWholeFile(moved)).size(), 1u);
}

TEST_F(MessageLogTest, RelativeNameLandsInWorkingDirectory) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  MessageLog log;
  log.SetLogFileName("relative.log");
  log.AddLog("here");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(Lines(ReadWholeFile(dir_.File("relative.log"))).size(), 1u);
}

TEST_F(MessageLogTest, ScreenOutputGoesToStandardError) {
  MessageLog log;
  log.EnableFileOutput(false);
  log.EnableScreenOutput(true);
  ::testing::internal::CaptureStderr();
  log.AddLog("on screen");
  std::string screen = ::testing::internal::GetCapturedStderr();
  std::smatch match;
  std::vector<std::string> lines = Lines(screen);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_TRUE(std::regex_match(lines[0], match, kEntry));
  EXPECT_EQ(match[8].str(), "on screen");
  EXPECT_FALSE(testing::Exists(path_));
}

TEST_F(MessageLogTest, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 500;
  // A long payload makes torn or interleaved writes visible.
  const std::string padding(200, '.');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &padding] {
      MessageLog log;
      for (int i = 0; i < kLinesPerThread; ++i) {
        std::string text = "thread " + std::to_string(t) + " line " +
                           std::to_string(i) + " " + padding;
        log.AddLog(text.c_str());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::string text = ReadWholeFile(path_);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
  const std::regex body("thread (\\d+) line (\\d+) \\.{200}");
  std::set<std::pair<int, int>> seen;
  for (const std::string& line : lines) {
    std::smatch entry;
    ASSERT_TRUE(std::regex_match(line, entry, kEntry)) << line;
    std::string payload = entry[8].str();
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(payload, parts, body)) << line;
    seen.emplace(std::stoi(parts[1].str()), std::stoi(parts[2].str()));
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLinesPerThread));
}

}  // namespace
}  // namespace platform
}  // namespace rondel
