#include "platform/file.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "platform/clock.h"
#include "platform/paths.h"
#ifndef _WIN32
#include "platform/syscall_test_hooks.h"
#else
#include <windows.h>

#include "platform/file_error.h"
#include "platform/windows_error.h"
#endif
#include "scratch_dir.h"

namespace rondel {
namespace platform {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

class FileTest : public ::testing::Test {
 protected:
#ifndef _WIN32
  void TearDown() override { SetWriteBudget(-1); }
#endif
  ScratchDir dir_;
};

TEST_F(FileTest, WriteThenReadBack) {
  std::string path = dir_.File("Rooms.tbl");
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  {
    File file = File::CreateForWrite(path);
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(file.Write(bytes.data(), bytes.size()), bytes.size());
    EXPECT_TRUE(file.Sync());
  }
  EXPECT_EQ(ReadFileBytes(path), bytes);

  File file = File::OpenForRead(path);
  ASSERT_TRUE(file.valid());
  std::string back(bytes.size() + 10, 'x');
  EXPECT_EQ(file.Read(&back[0], back.size()),
            bytes.size());  // short at end of file
  EXPECT_EQ(back.substr(0, bytes.size()), bytes);
  EXPECT_EQ(file.Read(&back[0], 1), 0u);
}

TEST_F(FileTest, CreateTruncatesAndMissingFileIsInvalid) {
  std::string path = dir_.File("Medias.tbl");
  WriteFileBytes(path, "old contents");
  {
    File file = File::CreateForWrite(path);
    ASSERT_TRUE(file.valid());
    file.Write("new", 3);
  }
  EXPECT_EQ(ReadFileBytes(path), "new");
  EXPECT_FALSE(File::OpenForRead(dir_.File("absent")).valid());
  EXPECT_FALSE(File::CreateForWrite(dir_.File("no/dir/file")).valid());
  File invalid;
  char byte;
  EXPECT_EQ(invalid.Read(&byte, 1), 0u);
  EXPECT_EQ(invalid.Write("x", 1), 0u);
  EXPECT_FALSE(invalid.Sync());
}

TEST_F(FileTest, MoveTransfersOwnership) {
  std::string path = dir_.File("moved");
  File first = File::CreateForWrite(path);
  ASSERT_TRUE(first.valid());
  File second(std::move(first));
  EXPECT_FALSE(first.valid());
  ASSERT_TRUE(second.valid());
  File third;
  third = std::move(second);
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(third.Write("abc", 3), 3u);
  third.Close();
  EXPECT_FALSE(third.valid());
  EXPECT_EQ(ReadFileBytes(path), "abc");
}

#ifndef _WIN32  // Linux only: failures injected through the system-call table
TEST_F(FileTest, WriteBudgetGivesShortWrite) {
  std::string path = dir_.File("FILE_SERVERS.tbl");
  std::string other = dir_.File("Rooms.tbl");
  SetWriteBudget(10);
  {
    File file = File::CreateForWrite(path);
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(file.Write("0123456", 7), 7u);
    File second = File::CreateForWrite(other);
    EXPECT_EQ(second.Write("abcdef", 6),
              3u);  // the budget is shared by every file
    EXPECT_EQ(file.Write("more", 4), 0u);
  }
  EXPECT_EQ(ReadFileBytes(path), "0123456");
  EXPECT_EQ(ReadFileBytes(other), "abc");

  SetWriteBudget(-1);
  File file = File::CreateForWrite(path);
  EXPECT_EQ(file.Write("0123456789abcdef", 16), 16u);

  SetWriteBudget(0);
  EXPECT_EQ(file.Write("x", 1), 0u);
}

#endif  // _WIN32

TEST_F(FileTest, RenameRemoveAndReadable) {
  std::string from = dir_.File("Rooms.tbl.new");
  std::string to = dir_.File("Rooms.tbl");
  WriteFileBytes(from, "new");
  WriteFileBytes(to, "old");
  EXPECT_TRUE(FileReadable(to));
  EXPECT_FALSE(
      FileReadable(dir_.path()));  // a directory is not a readable file
  EXPECT_FALSE(FileReadable(dir_.File("absent")));
  EXPECT_TRUE(RenameFile(from, to));
  EXPECT_EQ(ReadFileBytes(to), "new");
  EXPECT_FALSE(FileReadable(from));
  EXPECT_FALSE(RenameFile(from, to));
  EXPECT_TRUE(SyncDirectory(dir_.path()));
  EXPECT_FALSE(SyncDirectory(dir_.File("absent")));
  EXPECT_TRUE(RemoveFile(to));
  EXPECT_FALSE(RemoveFile(to));
  EXPECT_FALSE(FileReadable(to));
}

TEST_F(FileTest, MakeDirectoryIsIdempotent) {
  std::string table_dir = dir_.File("VideoServertable");
  EXPECT_TRUE(MakeDirectory(table_dir));
  EXPECT_TRUE(MakeDirectory(table_dir));
  EXPECT_FALSE(MakeDirectory(dir_.File("missing/child")));
  std::string plain = dir_.File("plain");
  WriteFileBytes(plain, "x");
  EXPECT_FALSE(MakeDirectory(plain));
}

TEST(PathsTest, ExecutableDirectoryHoldsThisProgram) {
  const std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_TRUE(std::filesystem::path(directory).is_absolute()) << directory;
  EXPECT_TRUE(directory.back() == '/' || directory.back() == '\\') << directory;
  // The program's own file, with the name its system gives programs.
  EXPECT_TRUE(FileReadable(directory + "file_test") ||
              FileReadable(directory + "file_test.exe"))
      << directory;
}

// A program's directory. Windows reads the path in its code page: in 936 the
// trail byte of a double-byte character may have the value of '\' (0x5C).
TEST(PathsTest, DirectoryOfAProgramPathHonoursTheCodePage) {
  struct Case {
    const char* path;
    unsigned code_page;
    const char* directory;
  };
#ifdef _WIN32
  const std::vector<Case> cases = {
      {"C:\\app\\\xDF\x5C\xA0\x49.exe", 936, "C:\\app\\"},  // host named 運營
      {"C:\\app\\\xDF\x5C\\host.exe", 936, "C:\\app\\\xDF\x5C\\"},  // folder 運
      {"C:\\app\\\xB9\x5C\xA0\x49.exe", 936, "C:\\app\\"},
      {"C:/app/host.exe", 936, "C:/app/"},
      {"C:\\app\\\xDF", 936, "C:\\app\\"},  // a lead byte ends the path
      {"C:\\app\\\xDF\x5C\xA0\x49.exe", 1252, "C:\\app\\\xDF\x5C"},
      {"host.exe", 936, ""},
  };
#else
  const std::vector<Case> cases = {
      {"/opt/app/\xDF\x5C\xA0\x49", 0, "/opt/app/"},
      {"/opt/app\\host", 0, "/opt/"},
      {"host", 0, ""},
  };
#endif
  for (const Case& c : cases) {
    EXPECT_EQ(DirectoryOf(c.path, c.code_page), c.directory) << c.path;
  }
}

#ifdef _WIN32
// A Windows failure names the system's own cause and code, not the errno it
// folds into: a file another program holds is no "Permission denied", and a
// code the mapping does not know is no bare "I/O error".
TEST_F(FileTest, WindowsFailuresNameTheSystemsCauseAndCode) {
  const std::string held = dir_.File("held.tbl");
  WriteFileBytes(held, "x");
  HANDLE other = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const bool renamed = RenameFile(held, dir_.File("moved.tbl"));
  const std::string shared = FileError::Now("rename", held).ToString();
  CloseHandle(other);
  EXPECT_FALSE(renamed);
  EXPECT_NE(shared.find("(Windows error 32)"), std::string::npos) << shared;
  EXPECT_EQ(shared.find("Permission denied"), std::string::npos) << shared;

  SetLastError(ERROR_CRC);
  SetErrnoFromLastError();
  const std::string unmapped = FileError::Now("read", held).ToString();
  EXPECT_NE(unmapped.find("(Windows error 23)"), std::string::npos) << unmapped;
  EXPECT_EQ(unmapped.find("I/O error"), std::string::npos) << unmapped;
  // An errno set since by other means carries no stale code.
  errno = ENOENT;
  EXPECT_EQ(FileError::Now("open", held).system_code, 0u);
}
#endif  // _WIN32

#ifndef _WIN32  // Linux: the monotonic clock's milliseconds (Windows: its own)
uint64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u +
         static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

TEST(ClockTest, TickCountIsTheMonotonicClockInMilliseconds) {
  uint64_t before = MonotonicMilliseconds();
  uint32_t tick = TickCount();
  uint64_t after = MonotonicMilliseconds();
  // Offsets from `before` survive a wrap of the 32-bit count.
  uint32_t offset = tick - static_cast<uint32_t>(before);
  EXPECT_LE(offset, static_cast<uint32_t>(after - before));
}
#endif  // _WIN32

TEST(ClockTest, TickCountCountsMilliseconds) {
  uint32_t start = TickCount();
  timespec pause{0, 30 * 1000000};
  nanosleep(&pause, nullptr);
  EXPECT_GE(static_cast<uint32_t>(TickCount() - start), 30u);
}

TEST(ClockTest, CalendarSecondsIsUnixTime) {
  time_t before = time(nullptr);
  int64_t now = CalendarSeconds();
  time_t after = time(nullptr);
  EXPECT_GE(now, static_cast<int64_t>(before));
  EXPECT_LE(now, static_cast<int64_t>(after));
}

}  // namespace
}  // namespace platform
}  // namespace rondel
