// The three snapshot sets the failure sweeps and the crash tests save one over
// another: the oldest (whose media file the save under test reuses), the
// previous and the new; and which of them a directory holds.
#ifndef RONDEL_TESTS_SUPPORT_SNAPSHOT_SETS_H_
#define RONDEL_TESTS_SUPPORT_SNAPSHOT_SETS_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "test_system.h"

namespace rondel {
namespace testing {

inline void FillOldest() { FillCatalogue(5); }
inline void FillPrevious() { FillCatalogue(21); }
inline void FillNew() {
  FillCatalogue(77);
  for (int i = 5; i < 40; ++i) AddMedia(90000 + i, kSong, "b");
}

// The nine files a save of the catalogue `fill` makes (RONDEL_SNAPSHOT_DIR is
// left pointing at a removed directory).
inline std::vector<std::string> SetOf(void (*fill)()) {
  ScratchDir dir;
  SetEnv("RONDEL_SNAPSHOT_DIR", dir.File("VideoServertable"));
  fill();
  SnapshotStore store;
  EXPECT_TRUE(store.SaveAllTables());
  return ReadSnapshotSet(dir.File("VideoServertable"));
}

// Which set `files` is: "previous", "new", or the tables that are neither
// ("mixed: Rooms.tbl new, Medias.tbl other").
inline std::string WhichSet(const std::vector<std::string>& files,
                            const std::vector<std::string>& previous,
                            const std::vector<std::string>& next) {
  if (files == previous) return "previous";
  if (files == next) return "new";
  std::string mixed = "mixed:";
  for (size_t k = 0; k < files.size(); ++k) {
    if (files[k] == previous[k]) continue;
    mixed += std::string(" ") + kSnapshotTables[k].file_name +
             (files[k] == next[k] ? " new" : " other");
  }
  return mixed;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_SNAPSHOT_SETS_H_
