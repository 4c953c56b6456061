// The power fails after each operation of a snapshot save in turn, and what
// was never flushed is lost (tests/support/crash_file_system.h states the
// rules): the snapshot directory then always holds the previous set or the
// new one, whole, and it loads. The same holds when only the process dies
// (nothing lost), by exchange or file by file; the next save always
// completes.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "crash_file_system.h"
#include "files.h"
#include "platform/syscall_test_hooks.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "snapshot_sets.h"

namespace rondel {
namespace {

struct Crash {
  const char* name;
  bool staged_media;
  bool sibling_blocked;   // a file holds the sibling's name: file by file
  bool exchange_refused;  // renameat2 answers EINVAL: file by file
  bool unsynced_lost;     // the machine stops, or only the process dies
};

void PrintTo(const Crash& c, std::ostream* os) { *os << c.name; }

using testing::FillNew;
using testing::FillOldest;
using testing::FillPrevious;
using testing::SetOf;
using testing::WhichSet;

class SnapshotCrashTest : public ::testing::TestWithParam<Crash> {
 protected:
  void TearDown() override {
    platform::ResetSyscalls();
    unsetenv("RONDEL_SNAPSHOT_DIR");
  }
};

TEST_P(SnapshotCrashTest, CutAfterEveryOperationLeavesOneWholeSet) {
  const Crash& c = GetParam();
  const std::vector<std::string> previous_files = SetOf(FillPrevious);
  const std::vector<std::string> new_files = SetOf(FillNew);
  FillNew();
  const int32_t new_media = g_catalogue.table_records.MediaCount;
  long cut_points = 0;
  long new_after_cut = 0;
  for (long cut = 1;; ++cut) {
    SCOPED_TRACE(::testing::Message() << "power cut after operation " << cut);
    testing::ScratchDir dir;
    const std::string snapshots = dir.File("VideoServertable");
    setenv("RONDEL_SNAPSHOT_DIR", snapshots.c_str(), 1);
    {
      SnapshotStore store;
      FillOldest();
      ASSERT_TRUE(store.SaveAllTables());
      FillPrevious();
      ASSERT_TRUE(store.SaveAllTables());
    }
    if (c.sibling_blocked) {
      testing::WriteFileBytes(dir.File("VideoServertable.new"), "");
    }
    FillNew();
    bool cut_happened;
    {
      testing::CrashFileSystem disk(dir.path());
      if (c.exchange_refused) disk.RefuseExchanges();
      disk.CutPowerAfter(cut);
      SnapshotStore store;
      if (c.staged_media) (void)store.StageTable("Medias");
      (void)store.SaveAllTables();
      cut_happened = disk.cut();
      if (c.unsynced_lost) disk.LoseUnsyncedData();
    }
    const std::string which = WhichSet(testing::ReadSnapshotSet(snapshots),
                                       previous_files, new_files);
    if (!cut_happened) {
      EXPECT_EQ(which, "new");
      break;
    }
    ++cut_points;
    EXPECT_TRUE(which == "previous" || which == "new") << which;
    new_after_cut += which == "new" ? 1 : 0;
    {
      ResetCatalogue();
      SnapshotStore store;
      EXPECT_TRUE(store.LoadAllTables()) << store.LastLoad().reason;
      EXPECT_EQ(g_catalogue.table_records.MediaCount,
                which == "new" ? new_media : 5);
    }
    // The next start-up's save completes from whatever was left.
    FillNew();
    SnapshotStore store;
    EXPECT_TRUE(store.SaveAllTables());
    EXPECT_EQ(WhichSet(testing::ReadSnapshotSet(snapshots), previous_files,
                       new_files),
              "new");
    EXPECT_EQ(testing::SortedListing(snapshots), testing::NineFileListing());
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(cut_points, 50);
  RecordProperty("cut_points", static_cast<int>(cut_points));
  RecordProperty("new_after_cut", static_cast<int>(new_after_cut));
}

const Crash kCrashes[] = {
    {"ExchangePowerCut", false, false, false, true},
    {"ExchangeStagedPowerCut", true, false, false, true},
    {"ExchangeProcessKilled", true, false, false, false},
    {"FileByFilePowerCut", true, true, false, true},
    {"FileByFileAfterRefusalPowerCut", true, false, true, true},
    {"FileByFileProcessKilled", true, true, false, false},
    {"FileByFileAfterRefusalProcessKilled", false, false, true, false},
};

INSTANTIATE_TEST_SUITE_P(Crashes, SnapshotCrashTest,
                         ::testing::ValuesIn(kCrashes),
                         [](const ::testing::TestParamInfo<Crash>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace rondel
