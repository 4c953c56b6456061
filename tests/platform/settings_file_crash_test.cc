// The power fails after each operation of a settings persist in turn, and
// what was never flushed is lost (tests/support/crash_file_system.h states
// the rules): the settings file then holds its old bytes or all of the new
// ones.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "crash_file_system.h"
#include "files.h"
#include "platform/settings_file.h"
#include "platform/syscall_test_hooks.h"
#include "scratch_dir.h"

namespace rondel {
namespace platform {
namespace {

constexpr char kBefore[] =
    "; operators' settings\r\n[VideoServer]\r\nRandPlayType=1\r\n[KTV]\r\n";
constexpr char kAfter[] =
    "; operators' settings\r\n[VideoServer]\r\nRandPlayType=7\r\n[KTV]\r\n";
constexpr char kCreated[] = "[VideoServer]\nRandPlayType=7\n";

struct Persist {
  const char* name;
  bool exists;
};

void PrintTo(const Persist& p, std::ostream* os) { *os << p.name; }

class SettingsCrashTest : public ::testing::TestWithParam<Persist> {
 protected:
  void TearDown() override { ResetSyscalls(); }
};

TEST_P(SettingsCrashTest, CutAfterEveryOperationLeavesTheOldBytesOrTheNew) {
  const Persist& p = GetParam();
  const std::string before = p.exists ? kBefore : "";
  const std::string after = p.exists ? kAfter : kCreated;
  long cut_points = 0;
  for (long cut = 1;; ++cut) {
    SCOPED_TRACE(::testing::Message() << "power cut after operation " << cut);
    testing::ScratchDir folder;
    const std::string path = folder.File("Korvane.ini");
    if (p.exists) testing::WriteFileBytes(path, kBefore);
    bool cut_happened;
    {
      testing::CrashFileSystem disk(folder.path());
      disk.CutPowerAfter(cut);
      (void)WriteProfileString(path.c_str(), "VideoServer", "RandPlayType",
                               "7");
      cut_happened = disk.cut();
      disk.LoseUnsyncedData();
    }
    const std::string bytes = testing::ReadFileBytes(path);
    if (!cut_happened) {
      EXPECT_EQ(bytes, after);
      break;
    }
    ++cut_points;
    EXPECT_TRUE(bytes == before || bytes == after) << bytes;
    EXPECT_EQ(testing::ListDirectory(folder.path()),
              bytes.empty() && !p.exists ? "" : "Korvane.ini\n");
  }
  EXPECT_GT(cut_points, 3);
  RecordProperty("cut_points", static_cast<int>(cut_points));
}

INSTANTIATE_TEST_SUITE_P(Persists, SettingsCrashTest,
                         ::testing::Values(Persist{"Replace", true},
                                           Persist{"Create", false}),
                         [](const ::testing::TestParamInfo<Persist>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace platform
}  // namespace rondel
