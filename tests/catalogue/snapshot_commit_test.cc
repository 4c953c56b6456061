// What a replacement interrupted at any point leaves, as a load and the next
// save meet it: without a valid commit record (none, or one torn) the live
// files are the set and the new ones are leftovers; with one, the new set is
// served ("X.tbl.new" where still there, else "X.tbl"), the load finishes
// putting it in place, and a save does so before its own work (by directory
// exchange on Linux, file by file on Windows). Either way the next save leaves
// the nine new files alone.
#include "catalogue/snapshot_commit.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "files.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "snapshot_sets.h"
#include "test_system.h"

namespace rondel {
namespace {

struct Leftover {
  const char* name;
  size_t record_bytes;  // of the 16-byte record; 0: none
  int renamed;          // tables already put in place, from the first
  bool new_set_served;
};

void PrintTo(const Leftover& l, std::ostream* os) { *os << l.name; }

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

class SnapshotCommitTest : public ::testing::TestWithParam<Leftover> {
 protected:
  void TearDown() override { testing::UnsetEnv("RONDEL_SNAPSHOT_DIR"); }
};

TEST_P(SnapshotCommitTest, LoadAndNextSaveServeOneWholeSet) {
  const Leftover& l = GetParam();
  const std::vector<std::string> previous_files =
      testing::SetOf(testing::FillPrevious);
  const std::vector<std::string> new_files = testing::SetOf(testing::FillNew);
  const std::vector<std::string> previous = LoadedOf(testing::FillPrevious);
  const std::vector<std::string> next = LoadedOf(testing::FillNew);
  for (bool load_first : {true, false}) {
    SCOPED_TRACE(load_first ? "load, then save" : "save");
    testing::ScratchDir dir;
    const std::string snapshots = dir.File("VideoServertable");
    testing::SetEnv("RONDEL_SNAPSHOT_DIR", snapshots);
    testing::FillPrevious();
    ASSERT_TRUE(SnapshotStore().SaveAllTables());
    // The interrupted save: every new file written, some put in place.
    for (int k = 0; k < 9; ++k) {
      const std::string live =
          snapshots + "/" + testing::kSnapshotTables[k].file_name;
      if (k < l.renamed) {
        testing::WriteFileBytes(live + ".prev", previous_files[k]);
        testing::WriteFileBytes(live, new_files[k]);
      } else {
        testing::WriteFileBytes(live + ".new", new_files[k]);
      }
    }
    if (l.record_bytes > 0) {
      testing::WriteFileBytes(
          snapshots + "/" + snapshot::kCommitFileName,
          snapshot::CommitRecordBytes().substr(0, l.record_bytes));
    }
    if (load_first) {
      EXPECT_TRUE(Loaded() == (l.new_set_served ? next : previous));
    }
    testing::FillNew();
    EXPECT_TRUE(SnapshotStore().SaveAllTables());
    EXPECT_EQ(std::make_tuple(testing::ReadSnapshotSet(snapshots),
                              testing::SortedListing(snapshots)),
              std::make_tuple(new_files, testing::NineFileListing()));
    EXPECT_TRUE(Loaded() == next);
  }
}

const Leftover kLeftovers[] = {
    {"NoRecord", 0, 0, false},
    {"TornRecord", 15, 0, false},
    {"CommittedNoneRenamed", 16, 0, true},
    {"CommittedFourRenamed", 16, 4, true},
    {"CommittedAllRenamed", 16, 9, true},
};

INSTANTIATE_TEST_SUITE_P(Leftovers, SnapshotCommitTest,
                         ::testing::ValuesIn(kLeftovers),
                         [](const ::testing::TestParamInfo<Leftover>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace rondel
