// Every system call of a settings persist fails in turn: the file then holds
// its old bytes or all of the new ones, never a mix, no temporary stays
// beside it, a persist that answers true has written the new bytes, and one
// that fails names the file (or the new file beside it) and the error.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "files.h"
#include "platform/settings_file.h"
#include "platform/syscall_test_hooks.h"
#include "scratch_dir.h"
#include "syscall_sweep.h"

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
  bool folder_writable;  // false: the file is rewritten in place
};

void PrintTo(const Persist& p, std::ostream* os) { *os << p.name; }

class SettingsSweepTest : public ::testing::TestWithParam<Persist> {
 protected:
  void TearDown() override {
    ResetSyscalls();
    if (folder_ != nullptr) chmod(folder_->path().c_str(), 0755);
  }
  std::unique_ptr<testing::ScratchDir> folder_;
};

TEST_P(SettingsSweepTest, EveryFailedCallLeavesTheOldBytesOrTheNew) {
  const Persist& p = GetParam();
  const std::string before = p.exists ? kBefore : "";
  const std::string after = p.exists ? kAfter : kCreated;
  std::string path;
  FileError error;
  const long points = testing::SweepFailures(
      [&] {
        if (folder_ != nullptr) chmod(folder_->path().c_str(), 0755);
        folder_ = std::make_unique<testing::ScratchDir>();
        path = folder_->File("Korvane.ini");
        if (p.exists) testing::WriteFileBytes(path, kBefore);
        if (!p.folder_writable) chmod(folder_->path().c_str(), 0555);
      },
      [&] {
        error = WriteProfileString(path.c_str(), "VideoServer", "RandPlayType",
                                   "7");
        return error.ok();
      },
      [&](long, bool saved) {
        const std::string bytes = testing::ReadFileBytes(path);
        if (saved || !p.folder_writable) {
          // Rewritten in place, a failure after the write leaves it whole.
          EXPECT_TRUE(bytes == after || (!saved && bytes == before)) << bytes;
        } else {
          EXPECT_EQ(bytes, before);
        }
        EXPECT_EQ(testing::ListDirectory(folder_->path()),
                  p.exists || saved ? "Korvane.ini\n" : "");
        if (!saved) {
          EXPECT_EQ(std::make_tuple(error.error_number,
                                    error.file.compare(0, path.size(), path)),
                    std::make_tuple(EIO, 0))
              << error.ToString();
        }
      });
  EXPECT_GT(points, 3);
  RecordProperty("failure_points", static_cast<int>(points));
}

INSTANTIATE_TEST_SUITE_P(Persists, SettingsSweepTest,
                         ::testing::Values(Persist{"Replace", true, true},
                                           Persist{"Create", false, true},
                                           Persist{"InPlace", true, false}),
                         [](const ::testing::TestParamInfo<Persist>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace platform
}  // namespace rondel
