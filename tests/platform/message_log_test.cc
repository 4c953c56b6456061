#include "platform/message_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "platform/clock_test_hooks.h"
#include "platform/file_error.h"
#include "platform/message_log_test_hooks.h"
#include "scratch_dir.h"

namespace rondel {
namespace platform {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Checks "YYYY-MM-DD HH:MM:SS.mmm rondel[PID]: LEVEL: text", with this
// process's id, and hands back "LEVEL: text" in *leveled and the text.
// (std::regex is avoided: GCC 12 warns inside it under the sanitizer build.)
bool ParseLeveledEntry(const std::string& line, std::string* leveled,
                       std::string* text) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd ";
  const size_t stamp_length = sizeof(kShape) - 1;
  if (line.size() < stamp_length) return false;
  for (size_t i = 0; i < stamp_length; ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
  }
  int month = std::stoi(line.substr(5, 2));
  int day = std::stoi(line.substr(8, 2));
  int hour = std::stoi(line.substr(11, 2));
  int minute = std::stoi(line.substr(14, 2));
  int second = std::stoi(line.substr(17, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  const std::string tag = "rondel[" + std::to_string(getpid()) + "]: ";
  if (line.compare(stamp_length, tag.size(), tag) != 0) return false;
  *leveled = line.substr(stamp_length + tag.size());
  const size_t level_end = leveled->find(": ");
  if (level_end == std::string::npos) return false;
  const std::string level = leveled->substr(0, level_end);
  if (level != "error" && level != "warning" && level != "notice" &&
      level != "info") {
    return false;
  }
  *text = leveled->substr(level_end + 2);
  return true;
}

bool ParseEntry(const std::string& line, std::string* text) {
  std::string leveled;
  return ParseLeveledEntry(line, &leveled, text);
}

// What comes before an entry's text at `level`.
std::string Prefix(const std::string& level) {
  return "2026-12-08 05:20:01.123 rondel[" + std::to_string(getpid()) +
         "]: " + level + ": ";
}

// "thread T line N ....": the thread and line numbers, with the padding whole.
bool ParseBody(const std::string& text, size_t padding, int* thread,
               int* line) {
  char dots[2];
  int consumed = 0;
  if (std::sscanf(text.c_str(), "thread %d line %d %1[.]%n", thread, line, dots,
                  &consumed) != 3) {
    return false;
  }
  size_t start = static_cast<size_t>(consumed) - 1;
  return text.size() - start == padding &&
         text.find_first_not_of('.', start) == std::string::npos;
}

// Each of kThreads threads logs "thread T line N " and the padding, N from 0
// to lines - 1.
constexpr int kThreads = 8;
void LogFromThreads(int lines, const std::string& padding) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, lines, &padding] {
      MessageLog log;
      for (int i = 0; i < lines; ++i) {
        std::string text = "thread " + std::to_string(t) + " line " +
                           std::to_string(i) + " " + padding;
        log.AddLog(text.c_str());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

// The line numbers each thread has in `text`, in file order; an entry that is
// not whole fails the test.
std::map<int, std::vector<int>> LinesByThread(const std::string& text,
                                              size_t padding) {
  std::map<int, std::vector<int>> numbers;
  EXPECT_TRUE(text.empty() || text.back() == '\n');
  for (const std::string& line : Lines(text)) {
    std::string payload;
    int thread = -1;
    int number = -1;
    EXPECT_TRUE(ParseEntry(line, &payload) &&
                ParseBody(payload, padding, &thread, &number))
        << line;
    numbers[thread].push_back(number);
  }
  return numbers;
}

class MessageLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MessageLog log;
    log.SetLogFileName(path_.c_str());
    log.EnableFileOutput(true);
    log.EnableScreenOutput(false);
  }
  void TearDown() override {
    SetLogSizeCap(0);
    RefuseLogCut(0);
    ClearClockOverride();
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("rondel.log");
};

TEST_F(MessageLogTest, EntryIsOneStampedLine) {
  MessageLog log;
  log.AddLog("connection to 127.0.0.1 failed");
  log.AddLog("");
  log.AddLog(nullptr);
  std::string text = ReadFileBytes(path_);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u);
  std::string entry;
  ASSERT_TRUE(ParseEntry(lines[0], &entry)) << lines[0];
  EXPECT_EQ(entry, "connection to 127.0.0.1 failed");
  ASSERT_TRUE(ParseEntry(lines[1], &entry)) << lines[1];
  EXPECT_EQ(entry, "");
}

TEST_F(MessageLogTest, SwitchesAreSharedByEveryInstance) {
  MessageLog
      early;  // made before the switches change, like the module-wide log
  {
    MessageLog configuring;
    configuring.EnableFileOutput(false);
  }
  early.AddLog("not written");
  EXPECT_FALSE(testing::PathExists(path_));

  MessageLog().EnableFileOutput(true);
  early.AddLog("written");
  EXPECT_EQ(Lines(ReadFileBytes(path_)).size(), 1u);

  std::string moved = dir_.File("other.log");
  MessageLog().SetLogFileName(moved.c_str());
  early.AddLog("elsewhere");
  EXPECT_EQ(Lines(ReadFileBytes(path_)).size(), 1u);
  EXPECT_EQ(Lines(ReadFileBytes(moved)).size(), 1u);

  MessageLog().SetLogFileName("");
  early.AddLog("nowhere");
  EXPECT_EQ(Lines(ReadFileBytes(moved)).size(), 1u);
}

TEST_F(MessageLogTest, RelativeNameLandsInWorkingDirectory) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  MessageLog log;
  log.SetLogFileName("relative.log");
  log.AddLog("here");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(Lines(ReadFileBytes(dir_.File("relative.log"))).size(), 1u);
}

TEST_F(MessageLogTest, ScreenOutputGoesToStandardError) {
  MessageLog log;
  log.EnableFileOutput(false);
  log.EnableScreenOutput(true);
  ::testing::internal::CaptureStderr();
  log.AddLog("on screen");
  std::string screen = ::testing::internal::GetCapturedStderr();
  std::vector<std::string> lines = Lines(screen);
  ASSERT_EQ(lines.size(), 1u);
  std::string entry;
  ASSERT_TRUE(ParseEntry(lines[0], &entry)) << lines[0];
  EXPECT_EQ(entry, "on screen");
  EXPECT_FALSE(testing::PathExists(path_));
}

TEST_F(MessageLogTest, LinesFromManyThreadsStayWhole) {
  constexpr int kLinesPerThread = 500;
  // A long payload makes torn or interleaved writes visible.
  const std::string padding(200, '.');
  LogFromThreads(kLinesPerThread, padding);

  std::map<int, std::vector<int>> seen =
      LinesByThread(ReadFileBytes(path_), padding.size());
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads));
  std::vector<int> all(kLinesPerThread);
  std::iota(all.begin(), all.end(), 0);
  for (const auto& thread : seen) EXPECT_EQ(thread.second, all);
}

// With the cap lowered to 64 KiB, 8 threads write 15 times that: the log is
// renamed to "<name>.1" each time it is full, neither file ever holds more
// than the cap and one entry, and the two files hold each thread's last lines
// without a gap (none, for a thread that finished early).
TEST_F(MessageLogTest, FullLogIsRenamedAndANewOneStartedUnderManyThreads) {
  constexpr size_t kCap = 64 << 10;
  constexpr int kLinesPerThread = 500;
  const std::string padding(220, '.');
  const size_t entry = Prefix("error").size() +
                       std::string("thread 7 line 499 ").size() + 220 + 1;
  SetLogSizeCap(kCap);
  // A log already past the cap is renamed before the first entry.
  testing::WriteFileBytes(path_, std::string(kCap + 1, '\n'));
  LogFromThreads(kLinesPerThread, padding);

  const std::string rotated_text = ReadFileBytes(path_ + ".1");
  const std::string current_text = ReadFileBytes(path_);
  EXPECT_GT(rotated_text.size(), kCap - entry);
  EXPECT_LE(rotated_text.size(), kCap + entry);
  EXPECT_LE(current_text.size(), kCap + entry);
  std::map<int, std::vector<int>> rotated =
      LinesByThread(rotated_text, padding.size());
  std::map<int, std::vector<int>> current =
      LinesByThread(current_text, padding.size());
  for (int t = 0; t < kThreads; ++t) {
    std::vector<int> lines = rotated[t];
    lines.insert(lines.end(), current[t].begin(), current[t].end());
    std::vector<int> last_lines(lines.size());
    std::iota(last_lines.begin(), last_lines.end(),
              kLinesPerThread - static_cast<int>(lines.size()));
    EXPECT_EQ(lines, last_lines) << "thread " << t;
  }
}

// Every rename of the log to "<name>.1" fails as it does at a venue, and
// reason() is the system's words for it: on Linux "<name>.1" is a directory;
// on Windows another program holds the log open without allowing a rename.
class RenameRefused {
 public:
  explicit RenameRefused(const std::string& path) {
#ifdef _WIN32
    holder_ = CreateFileA(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(holder_, INVALID_HANDLE_VALUE);
    char text[512] = {0};
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        ERROR_SHARING_VIOLATION, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        text, sizeof text, nullptr);
    reason_.assign(text, length);
    reason_.erase(reason_.find_last_not_of(". \r\n") + 1);
#else
    EXPECT_EQ(mkdir((path + ".1").c_str(), 0755), 0);
    reason_ = ErrorText(EISDIR);
#endif
    EXPECT_FALSE(reason_.empty());
  }
  ~RenameRefused() {
#ifdef _WIN32
    CloseHandle(holder_);
#endif
  }
  const std::string& reason() const { return reason_; }

 private:
#ifdef _WIN32
  HANDLE holder_;
#endif
  std::string reason_;
};

// The texts of the entries in `text`, in file order.
std::vector<std::string> EntryTexts(const std::string& text) {
  std::vector<std::string> texts;
  for (const std::string& line : Lines(text)) {
    std::string entry;
    EXPECT_TRUE(ParseEntry(line, &entry)) << line;
    texts.push_back(entry);
  }
  return texts;
}

// "line N ....", numbered lines of one writer.
std::string NumberedLine(int number) {
  return "line " + std::to_string(number) + " " + std::string(200, '.');
}
void LogNumberedLines(int from, int to) {
  MessageLog log;
  for (int i = from; i < to; ++i) log.AddLog(NumberedLine(i).c_str());
}
std::vector<std::string> NumberedLines(int from, int to) {
  std::vector<std::string> lines;
  for (int i = from; i < to; ++i) lines.push_back(NumberedLine(i));
  return lines;
}

// Fifteen caps' worth of lines into a log that cannot be renamed: the file
// never holds more than the cap, yet at least half of it, all of it the
// newest lines without a gap, behind the one line, logged once, that says why.
TEST_F(MessageLogTest, FullLogThatCannotBeRenamedIsCutToItsNewestLines) {
  constexpr size_t kCap = 64 << 10;
  constexpr int kLines = 4000;
  SetLogSizeCap(kCap);
  RenameRefused refused(path_);
  MessageLog().EnableScreenOutput(true);
  ::testing::internal::CaptureStderr();
  LogNumberedLines(0, kLines);
  const std::vector<std::string> screen =
      EntryTexts(::testing::internal::GetCapturedStderr());

  const std::string refusal = "log: cannot rename \"" + path_ + "\" to \"" +
                              path_ + ".1\": " + refused.reason() +
                              "; cut down to its newest lines instead";
  const std::string text = ReadFileBytes(path_);
  EXPECT_LE(text.size(), kCap);
  EXPECT_GT(text.size(), kCap / 2);
  std::vector<std::string> kept = EntryTexts(text);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.front(), refusal);
  kept.erase(kept.begin());
  EXPECT_EQ(kept,
            NumberedLines(kLines - static_cast<int>(kept.size()), kLines));
  EXPECT_EQ(std::count(screen.begin(), screen.end(), refusal), 1);
  EXPECT_EQ(screen.size(), static_cast<size_t>(kLines) + 1);
}

// When the full log can be cut down no more than renamed, file output pauses
// with one line past the cap saying why, entries are counted but not written,
// and only after ten seconds is room sought again; once found, a line says how
// many entries the file missed.
TEST_F(MessageLogTest, FullLogThatCanBeNeitherRenamedNorCutPausesFileOutput) {
  constexpr size_t kCap = 64 << 10;
  constexpr uint32_t kTick = 5000;
  SetLogSizeCap(kCap);
  RenameRefused refused(path_);
  RefuseLogCut(EIO);
  OverrideClock(kTick, 0);
  LogNumberedLines(0, 400);
  const std::string rename_refusal = "log: cannot rename \"" + path_ +
                                     "\" to \"" + path_ +
                                     ".1\": " + refused.reason();
  const std::string pause = rename_refusal +
                            ", nor cut it down: " + ErrorText(EIO) +
                            "; file output paused, tried again every 10 s";
  const std::string text = ReadFileBytes(path_);
  EXPECT_LE(text.size(), kCap + Prefix("warning").size() + pause.size() + 1);
  std::vector<std::string> paused = EntryTexts(text);
  ASSERT_GT(paused.size(), 1u);
  EXPECT_EQ(paused.back(), pause);
  paused.pop_back();
  const int written = static_cast<int>(paused.size());
  EXPECT_EQ(paused, NumberedLines(0, written));

  RefuseLogCut(0);
  OverrideClock(kTick + 9999, 0);
  LogNumberedLines(400, 401);
  EXPECT_EQ(EntryTexts(ReadFileBytes(path_)).size(), paused.size() + 1);
  OverrideClock(kTick + 10000, 0);
  LogNumberedLines(401, 402);
  std::vector<std::string> resumed = EntryTexts(ReadFileBytes(path_));
  ASSERT_GE(resumed.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(resumed.end() - 3, resumed.end()),
            (std::vector<std::string>{
                rename_refusal + "; cut down to its newest lines instead",
                "log: file output resumed; " + std::to_string(401 - written) +
                    " entries were not written to the file",
                NumberedLine(401)}));
}

// Each entry says which process wrote it and at which level.
TEST_F(MessageLogTest, EntryCarriesProcessIdAndLevel) {
  MessageLog log;
  log.AddLog("use database \"karaok\" error");
  log.AddLog("database stopped answering", LogLevel::kWarning);
  log.AddLog("started from the database", LogLevel::kNotice);
  log.AddLog("a message", LogLevel::kInfo);
  std::vector<std::string> leveled;
  for (const std::string& line : Lines(ReadFileBytes(path_))) {
    std::string text;
    leveled.emplace_back();
    EXPECT_TRUE(ParseLeveledEntry(line, &leveled.back(), &text)) << line;
  }
  EXPECT_EQ(leveled,
            (std::vector<std::string>{"error: use database \"karaok\" error",
                                      "warning: database stopped answering",
                                      "notice: started from the database",
                                      "info: a message"}));
}

// 8 threads log one line 1,000 times each: it is written once, and its count
// when another line comes.
TEST_F(MessageLogTest, RepeatsFromManyThreadsAreFoldedIntoOneCount) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      MessageLog log;
      for (int i = 0; i < 1000; ++i) log.AddLog("login database server error");
    });
  }
  for (std::thread& thread : threads) thread.join();
  MessageLog().AddLog("database answers again", LogLevel::kNotice);
  EXPECT_EQ(EntryTexts(ReadFileBytes(path_)),
            (std::vector<std::string>{
                "login database server error",
                "login database server error (repeated 7999 times)",
                "database answers again"}));
}

// A line is held back for a minute after it was written, however other held
// lines interleave; its count goes out when a new line comes, when the minute
// has passed (and the line is written anew) or when asked.
TEST_F(MessageLogTest, RepeatsAreCountedForAMinuteAfterTheLineWasWritten) {
  constexpr uint32_t kTick = 0xFFFFF000u;  // the minute wraps the tick count
  struct Step {
    uint32_t after;  // milliseconds since kTick
    const char* text;
    LogLevel level;
  };
  const Step steps[] = {
      {0, "A", LogLevel::kError},     {1, "B", LogLevel::kError},
      {2, "A", LogLevel::kError},     {3, "B", LogLevel::kError},
      {4, "A", LogLevel::kWarning},   {5, "C", LogLevel::kError},
      {59999, "A", LogLevel::kError}, {60000, "A", LogLevel::kError},
      {60001, "A", LogLevel::kError}, {60002, "B", LogLevel::kError},
      {60003, "A", LogLevel::kError},
  };
  MessageLog log;
  for (const Step& step : steps) {
    OverrideClock(kTick + step.after, 0);
    log.AddLog(step.text, step.level);
  }
  log.FlushRepeats();
  log.FlushRepeats();
  EXPECT_EQ(EntryTexts(ReadFileBytes(path_)),
            (std::vector<std::string>{
                "A", "B",
                // A at another level is another line, and new: the counts go
                "A (repeated 1 times)", "B (repeated 1 times)", "A", "C",
                // A's minute has passed: its count, then A anew
                "A (repeated 1 times)", "A",
                // B's minute passed without a repeat; then B is new again
                "A (repeated 1 times)", "B",
                // asked twice: the one count once
                "A (repeated 1 times)"}));
}

}  // namespace
}  // namespace platform
}  // namespace rondel
