// The system-call table: every call of the platform layer is counted, can be
// made to fail at its Nth use, and the platform function that made it
// reports the failure.
#include "platform/syscall.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "files.h"
#include "platform/file.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/syscall_test_hooks.h"
#include "scratch_dir.h"

namespace rondel {
namespace platform {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

struct Case {
  const char* call;
  // Runs one platform function in `dir` (which holds "a" = "alpha" and an
  // empty directory "d"); true when it reported the failure.
  std::function<bool(const std::string& dir)> fails;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.call; }

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.call;
}

class SyscallFailureTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ResetSyscalls();
    WriteFileBytes(dir_.File("a"), "alpha");
    ASSERT_TRUE(MakeDirectory(dir_.File("d")));
  }
  void TearDown() override { ResetSyscalls(); }
  ScratchDir dir_;
};

const Case kCases[] = {
    {"open",
     [](const std::string& d) { return !File::OpenForRead(d + "/a").valid(); }},
    {"read",
     [](const std::string& d) {
       char data[5];
       return File::OpenForRead(d + "/a").Read(data, 5) == 0;
     }},
    {"pread",
     [](const std::string& d) {
       char data[5];
       return File::OpenForRead(d + "/a").ReadAt(0, data, 5) == 0;
     }},
    {"write",
     [](const std::string& d) {
       return File::OpenExistingForWrite(d + "/a").Write("x", 1) == 0;
     }},
    {"fsync",
     [](const std::string& d) {
       return !File::OpenExistingForWrite(d + "/a").Sync();
     }},
    {"ftruncate",
     [](const std::string& d) {
       return !File::OpenExistingForWrite(d + "/a").Truncate(1);
     }},
    {"fchown",
     [](const std::string& d) {
       return !File::OpenExistingForWrite(d + "/a").ChangeOwner(0, 0);
     }},
    {"fchmod",
     [](const std::string& d) {
       return !File::OpenExistingForWrite(d + "/a").ChangeMode(0644);
     }},
    {"stat", [](const std::string& d) { return LinkCount(d + "/a") == 0; }},
    {"lstat",
     [](const std::string& d) {
       std::vector<DirectoryEntry> entries;
       return !ListDirectory(d, &entries);
     }},
    {"rename",
     [](const std::string& d) { return !RenameFile(d + "/a", d + "/b"); }},
    {"renameat2",
     [](const std::string& d) {
       return ExchangePaths(d + "/a", d + "/d") == EIO;
     }},
    {"link",
     [](const std::string& d) { return !LinkFile(d + "/a", d + "/b"); }},
    {"unlink", [](const std::string& d) { return !RemoveFile(d + "/a"); }},
    {"mkdir", [](const std::string& d) { return !MakeDirectory(d + "/e"); }},
    {"rmdir", [](const std::string& d) { return !RemoveDirectory(d + "/d"); }},
    {"socket",
     [](const std::string&) { return !SendDatagram("127.0.0.1", 9, "x", 1); }},
    {"sendto",
     [](const std::string&) { return !SendDatagram("127.0.0.1", 9, "x", 1); }},
};

TEST_P(SyscallFailureTest, FailedCallIsReportedByItsPlatformFunction) {
  const Case& c = GetParam();
  ASSERT_TRUE(FailSyscallAt(c.call, 1, EIO));
  EXPECT_TRUE(c.fails(dir_.path()));
  EXPECT_EQ(CountSyscalls(c.call), 1);
  // Only the first call was planned to fail: the same function works again,
  // and nothing of the failed one reached the disk.
  EXPECT_EQ(ReadFileBytes(dir_.File("a")), "alpha");
  EXPECT_FALSE(c.fails(dir_.path()));
  EXPECT_GE(CountSyscalls(c.call), 2);
}

INSTANTIATE_TEST_SUITE_P(Calls, SyscallFailureTest, ::testing::ValuesIn(kCases),
                         Name);

TEST(SyscallTableTest, EveryCallHasOneNamedEntry) {
  const std::vector<std::string> expected = {
      "open",      "read",       "pread",
      "write",     "fsync",      "sync_file_range",
      "ftruncate", "fchown",     "fchmod",
      "stat",      "lstat",      "rename",
      "renameat2", "link",       "unlink",
      "mkdir",     "rmdir",      "socket",
      "sendto",    "getifaddrs", "gethostbyname_r"};
  EXPECT_EQ(SyscallNames(), expected);
  EXPECT_FALSE(FailSyscallAt("close", 1, EIO));
  EXPECT_EQ(CountSyscalls("close"), -1);
}

TEST(SyscallTableTest, AnyCountsEveryCallAndFailsTheNthOfThemAll) {
  ScratchDir dir;
  ResetSyscalls();
  {
    File file = File::CreateForWrite(dir.File("f"));  // open
    file.Write("abc", 3);                             // write
    file.Sync();                                      // fsync
  }
  EXPECT_EQ(CountSyscalls(), 3);
  EXPECT_EQ(CountSyscalls("write"), 1);

  ASSERT_TRUE(FailSyscallAt(kAnySyscall, 2, ENOSPC));
  File file = File::CreateForWrite(dir.File("f"));
  EXPECT_EQ(file.Write("abc", 3), 0u);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(file.Sync());
  EXPECT_EQ(CountSyscalls(), 3);
  EXPECT_EQ(ReadFileBytes(dir.File("f")), "");
  ResetSyscalls();
}

TEST(SyscallTableTest, AddressListingGoesThroughTheTable) {
  ResetSyscalls();
  char addresses[kMaxHostAddresses][kAddressTextSize];
  (void)HostAddresses(addresses, kMaxHostAddresses);
  EXPECT_EQ(CountSyscalls("getifaddrs"), 1);
  EXPECT_GE(CountSyscalls("gethostbyname_r"), 1);
  ResetSyscalls();
}

// A replaced entry sees every call; ResetSyscalls puts the system's back.
int g_renames_seen = 0;
int CountingRename(const char* from, const char* to) {
  ++g_renames_seen;
  return SystemSyscalls().rename(from, to);
}

TEST(SyscallTableTest, ReplacedEntryIsCalledUntilReset) {
  ScratchDir dir;
  WriteFileBytes(dir.File("a"), "alpha");
  SyscallFunctions calls;
  calls.rename = &CountingRename;
  ReplaceSyscalls(calls);
  EXPECT_TRUE(RenameFile(dir.File("a"), dir.File("b")));
  ResetSyscalls();
  EXPECT_TRUE(RenameFile(dir.File("b"), dir.File("c")));
  EXPECT_EQ(g_renames_seen, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("c")), "alpha");
}

}  // namespace
}  // namespace platform
}  // namespace rondel
