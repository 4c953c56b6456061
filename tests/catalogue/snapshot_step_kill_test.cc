// A start-up save ended (TerminateProcess) before each step of putting the
// set in place file by file, as Windows always does, in a child process: an
// offline load afterwards serves one whole catalogue, the one before the save
// or the one it wrote, never a mix; and the next save leaves the nine files
// alone in the directory. A power cut between two steps leaves what the kill
// does, as each rename writes through. A save that meets a live file held by
// another program fails with one line naming the cause, and leaves the
// previous set with nothing beside it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "captured_log.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/snapshot_store_test_hooks.h"
#include "catalogue/tables.h"
#include "platform/file_error.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "snapshot_sets.h"
#include "test_system.h"

namespace rondel {
namespace {

constexpr char kKillAtStep[] = "RONDEL_TEST_KILL_AT_STEP";
constexpr DWORD kKilled = 137;
constexpr DWORD kSaved = 0;
constexpr DWORD kNotSaved = 1;

int g_kill_at_step = 0;

void KillAtStep(int step) {
  if (step == g_kill_at_step) TerminateProcess(GetCurrentProcess(), kKilled);
}

// The child: saves the new catalogue as start-up does, ended at its step.
void SaveAndStop(int step) {
  g_kill_at_step = step;
  SetReplacementStepHook(&KillAtStep);
  testing::FillNew();
  SnapshotStore store;
  (void)store.StageTable("Medias");
  ExitProcess(store.SaveAllTables() ? kSaved : kNotSaved);
}

// This test program again, running only this test as the child that is
// killed at `step`; its exit code.
DWORD RunChild(int step) {
  char program[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string command =
      std::string("\"") + program + "\" --gtest_filter=SnapshotStepKillTest.*";
  testing::SetEnv(kKillAtStep, std::to_string(step));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const BOOL started =
      CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &process);
  testing::UnsetEnv(kKillAtStep);
  if (!started) {
    ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
    return kNotSaved;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = kNotSaved;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

std::vector<std::string> Loaded() {
  ResetCatalogue();
  testing::ClearPlayLists();
  SnapshotStore store;
  EXPECT_TRUE(store.LoadAllTables()) << store.LastLoad().reason;
  std::vector<std::string> tables;
  for (int k = 0; k < 9; ++k) tables.push_back(testing::TableBytes(k));
  return tables;
}

std::vector<std::string> LoadedOf(void (*fill)()) {
  fill();
  std::vector<std::string> tables;
  for (int k = 0; k < 9; ++k) tables.push_back(testing::TableBytes(k));
  return tables;
}

TEST(SnapshotStepKillTest, KillAtEveryStepLeavesOneWholeCatalogue) {
  if (const char* step = std::getenv(kKillAtStep)) SaveAndStop(std::atoi(step));
  const std::vector<std::string> previous = LoadedOf(testing::FillPrevious);
  const std::vector<std::string> next = LoadedOf(testing::FillNew);
  int steps = 0;
  int new_after_kill = 0;
  for (int step = 1;; ++step) {
    SCOPED_TRACE(::testing::Message() << "killed before step " << step);
    testing::ScratchDir dir;
    const std::string snapshots = dir.File("VideoServertable");
    testing::SetEnv("RONDEL_SNAPSHOT_DIR", snapshots);
    {
      SnapshotStore store;
      testing::FillOldest();
      ASSERT_TRUE(store.SaveAllTables());
      testing::FillPrevious();
      ASSERT_TRUE(store.SaveAllTables());
    }
    const DWORD code = RunChild(step);
    const std::vector<std::string> loaded = Loaded();
    if (code != kKilled) {
      EXPECT_EQ(code, kSaved);
      EXPECT_TRUE(loaded == next);
      break;
    }
    ++steps;
    EXPECT_TRUE(loaded == previous || loaded == next);
    new_after_kill += loaded == next ? 1 : 0;
    // The next start-up's save completes from whatever was left.
    testing::FillNew();
    SnapshotStore store;
    EXPECT_TRUE(store.SaveAllTables());
    EXPECT_EQ(testing::SortedListing(snapshots), testing::NineFileListing());
    if (::testing::Test::HasFailure()) break;
  }
  testing::UnsetEnv("RONDEL_SNAPSHOT_DIR");
  // The record, two renames for each of the nine tables, its removal.
  EXPECT_EQ(steps, 20);
  RecordProperty("new_after_kill", new_after_kill);
}

TEST(SnapshotHeldFileTest, HeldLiveFileFailsTheSaveWithNothingLeft) {
  const std::vector<std::string> previous = LoadedOf(testing::FillPrevious);
  testing::ScratchDir dir;
  testing::ScratchDir logs;
  const std::string snapshots = dir.File("VideoServertable");
  testing::SetEnv("RONDEL_SNAPSHOT_DIR", snapshots);
  SnapshotStore store;
  ASSERT_TRUE(store.SaveAllTables());
  testing::FillNew();
  const std::string held = snapshots + "/FILE_SERVERS.tbl";
  // Opened as another program would, letting nobody rename or remove it.
  HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  bool saved;
  std::vector<std::string> lines;
  {
    testing::CapturedLog log(logs.File("rondel.log"));
    saved = store.SaveAllTables();
    lines = log.Lines();
  }
  CloseHandle(holder);
  platform::FileError sharing;
  sharing.step = "rename";
  sharing.file = held;
  sharing.error_number = EACCES;
  sharing.system_code = ERROR_SHARING_VIOLATION;
  EXPECT_EQ(std::make_tuple(saved, lines, testing::SortedListing(snapshots)),
            std::make_tuple(false,
                            std::vector<std::string>{"snapshot save: " +
                                                     sharing.ToString()},
                            testing::NineFileListing()));
  EXPECT_TRUE(Loaded() == previous);
  testing::UnsetEnv("RONDEL_SNAPSHOT_DIR");
}

}  // namespace
}  // namespace rondel
