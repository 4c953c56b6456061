// A hundred start-up saves killed (SIGKILL) at random moments: after each, an
// offline load serves one whole set, the one before the save or the one it
// wrote, with its counters, and never a mix. The moments are spread over the
// length of a whole save, measured first; the seed is printed so that a run
// can be repeated.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"
#include "scratch_dir.h"
#include "snapshot_files.h"

namespace rondel {
namespace {

using Clock = std::chrono::steady_clock;

// Two catalogues large enough that a save takes a while: the media table
// dominates, as in a venue.
void FillFirst() {
  testing::FillCatalogue(21);
  for (int i = 5; i < 2000; ++i) testing::AddMedia(50000 + i, kSong, "a");
}
void FillSecond() {
  testing::FillCatalogue(77);
  for (int i = 5; i < 5000; ++i) testing::AddMedia(90000 + i, kFilm, "b");
}

// Saves as start-up does (the media table staged first) in a child process;
// returns the child after `delay`, killed if it had not finished.
struct Outcome {
  bool killed;
};
Outcome SaveInChild(std::chrono::microseconds delay) {
  const pid_t child = fork();
  if (child == 0) {
    SnapshotStore store;
    (void)store.StageTable("Medias");
    (void)store.SaveAllTables();
    _exit(0);
  }
  if (child < 0) {
    ADD_FAILURE() << "fork failed";
    return {false};
  }
  // The child may finish first: it is then reaped, not killed.
  const Clock::time_point deadline = Clock::now() + delay;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return {WIFSIGNALED(status)};
}

TEST(SnapshotKillTest, KilledStartUpSavesLeaveOneWholeSet) {
  testing::ScratchDir dir;
  const std::string snapshots = dir.File("VideoServertable");
  setenv("RONDEL_SNAPSHOT_DIR", snapshots.c_str(), 1);
  FillFirst();
  const int32_t first_media = g_catalogue.table_records.MediaCount;
  {
    SnapshotStore store;
    ASSERT_TRUE(store.SaveAllTables());
  }
  const std::vector<std::string> first = testing::ReadSnapshotSet(snapshots);
  FillSecond();
  const int32_t second_media = g_catalogue.table_records.MediaCount;

  // How long a whole save takes here (the longest of four, both ways), so the
  // kills spread over all of it and a few land after it.
  std::chrono::microseconds whole_save(0);
  for (int i = 0; i < 4; ++i) {
    if (i % 2 == 0) {
      FillSecond();
    } else {
      FillFirst();
    }
    const Clock::time_point start = Clock::now();
    ASSERT_FALSE(SaveInChild(std::chrono::seconds(600)).killed);
    whole_save = std::max(whole_save,
                          std::chrono::duration_cast<std::chrono::microseconds>(
                              Clock::now() - start));
  }
  ASSERT_EQ(testing::ReadSnapshotSet(snapshots), first);
  FillSecond();
  {
    SnapshotStore store;
    ASSERT_TRUE(store.SaveAllTables());
  }
  const std::vector<std::string> second = testing::ReadSnapshotSet(snapshots);
  ASSERT_NE(first, second);

  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> moment(0, whole_save.count() * 3 / 2);
  int killed = 0;
  int kept_previous = 0;
  bool second_in_place = true;
  for (int kill_number = 1; kill_number <= 100; ++kill_number) {
    SCOPED_TRACE(::testing::Message()
                 << "kill " << kill_number << ", seed " << seed);
    // Each save writes the set that is not in place.
    if (second_in_place) {
      FillFirst();
    } else {
      FillSecond();
    }
    const Outcome outcome =
        SaveInChild(std::chrono::microseconds(moment(random)));
    killed += outcome.killed ? 1 : 0;

    const std::vector<std::string> files = testing::ReadSnapshotSet(snapshots);
    const bool is_first = files == first;
    ASSERT_TRUE(is_first || files == second) << "a mixed set";
    ResetCatalogue();
    testing::ClearPlayLists();
    SnapshotStore store;
    ASSERT_TRUE(store.LoadAllTables()) << store.LastLoad().reason;
    EXPECT_EQ(g_catalogue.table_records.MediaCount,
              is_first ? first_media : second_media);
    kept_previous += is_first != second_in_place ? 1 : 0;
    second_in_place = !is_first;
  }
  RecordProperty("seed", static_cast<int>(seed));
  RecordProperty("killed", killed);
  RecordProperty("previous_set_kept", kept_previous);
  RecordProperty("whole_save_us", static_cast<int>(whole_save.count()));
  unsetenv("RONDEL_SNAPSHOT_DIR");
}

}  // namespace
}  // namespace rondel
