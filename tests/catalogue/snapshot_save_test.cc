// A save replaces the last good snapshot set only when the new set is complete:
// a write that fails part-way, or a process killed in the middle of a save,
// leaves the previous nine files exactly as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"
#include "platform/file.h"
#include "scratch_dir.h"
#include "snapshot_files.h"

namespace rondel {
namespace {

class SnapshotSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    setenv("RONDEL_SNAPSHOT_DIR", dir_.path().c_str(), 1);
    platform::SetWriteBudget(-1);
  }
  void TearDown() override {
    platform::SetWriteBudget(-1);
    unsetenv("RONDEL_SNAPSHOT_DIR");
  }

  // Saves catalogue A and returns its files.
  std::vector<std::string> SaveFirstSet() {
    testing::FillCatalogue(21);
    for (int k = 0; k < 9; ++k) saved_a_[k] = testing::TableBytes(k);
    EXPECT_TRUE(store_.SaveAllTables());
    return testing::ReadSnapshotSet(dir_.path());
  }

  // Loads the directory into a reset catalogue and compares it with catalogue
  // A.
  void ExpectFirstSetLoads() {
    ResetCatalogue();
    testing::ClearPlayLists();
    ASSERT_TRUE(store_.LoadAllTables());
    for (int k = 0; k < 9; ++k) {
      EXPECT_EQ(testing::TableBytes(k), saved_a_[k])
          << testing::kSnapshotTables[k].table_name;
    }
  }

  // Catalogue B: different values everywhere and `medias` media records.
  void FillSecondSet(int medias) {
    testing::FillCatalogue(77);
    for (int i = 5; i < medias; ++i) testing::AddMedia(90000 + i, kSong, "b");
  }

  testing::ScratchDir dir_;
  SnapshotStore store_;
  std::string saved_a_[9];
};

TEST_F(SnapshotSaveTest, FailedWriteLeavesThePreviousSetIntact) {
  const std::vector<std::string> files_a = SaveFirstSet();
  FillSecondSet(40);
  // Bytes a complete save of B writes: nine headers and every table's records.
  const long long total =
      9 * 80 + 28 + 3 * 52 + 40 * 942 + 2 * 36 + 4 * (3 + 0 + 2 + 1 + 4);
  const long long budgets[] = {
      0,          1,        80,        107,
      108 + 79,   108 + 90, 108 + 236, 108 + 236 + 80 + 942 * 20,
      total - 17, total - 1};
  for (long long budget : budgets) {
    platform::SetWriteBudget(budget);
    EXPECT_FALSE(store_.SaveAllTables()) << "budget " << budget;
    platform::SetWriteBudget(-1);
    EXPECT_EQ(testing::ReadSnapshotSet(dir_.path()), files_a)
        << "budget " << budget;
    EXPECT_EQ(testing::SortedListing(dir_.path()), testing::NineFileListing())
        << "temporaries left behind, budget " << budget;
  }
  // With exactly enough room the save goes through and replaces the set.
  platform::SetWriteBudget(total);
  EXPECT_TRUE(store_.SaveAllTables());
  platform::SetWriteBudget(-1);
  EXPECT_NE(testing::ReadSnapshotSet(dir_.path()), files_a);
  EXPECT_EQ(testing::SortedListing(dir_.path()), testing::NineFileListing());

  // Back to A for the load check.
  testing::FillCatalogue(21);
  ASSERT_TRUE(store_.SaveAllTables());
  ExpectFirstSetLoads();
}

TEST_F(SnapshotSaveTest, FailedSaveStillLeavesALoadableSet) {
  SaveFirstSet();
  FillSecondSet(10);
  platform::SetWriteBudget(500);
  EXPECT_FALSE(store_.SaveAllTables());
  platform::SetWriteBudget(-1);
  ExpectFirstSetLoads();
}

TEST_F(SnapshotSaveTest, SaveKilledMidWayLeavesThePreviousSetComplete) {
  const std::vector<std::string> files_a = SaveFirstSet();
  FillSecondSet(5000);  // a media table far larger than a pipe holds

  // The media table's temporary is a pipe that this test drains slowly, so the
  // child is certainly in the middle of its save, with two tables already
  // written, when it dies.
  const std::string pipe_path = dir_.File("Medias.tbl.new");
  ASSERT_EQ(mkfifo(pipe_path.c_str(), 0600), 0);
  const int reader = open(pipe_path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SnapshotStore store;
    store.SaveAllTables();
    _exit(0);
  }

  std::string received;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (received.size() < 80 + 4096 &&
         std::chrono::steady_clock::now() < deadline) {
    char chunk[4096];
    const ssize_t got = read(reader, chunk, sizeof chunk);
    if (got > 0) {
      received.append(chunk, static_cast<size_t>(got));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(reader);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the save finished before it was killed";
  ASSERT_GE(received.size(), 80u);
  EXPECT_EQ(received.substr(8, 7), std::string("Medias\0", 7));

  EXPECT_EQ(testing::ReadSnapshotSet(dir_.path()), files_a);
  ExpectFirstSetLoads();

  // The next save overwrites what the killed one left behind and completes the
  // set.
  ASSERT_EQ(unlink(pipe_path.c_str()), 0);
  FillSecondSet(5000);
  EXPECT_TRUE(store_.SaveAllTables());
  EXPECT_EQ(testing::SortedListing(dir_.path()), testing::NineFileListing());
  ResetCatalogue();
  ASSERT_TRUE(store_.LoadAllTables());
  EXPECT_EQ(g_catalogue.table_records.MediaCount, 5000);
  EXPECT_EQ(int32_t{g_catalogue.medias[4999].MediaId}, 94999);
}

// A save keeps the media file it replaces as "Medias.tbl.prev" and the next
// save writes over that file's space instead of freeing and allocating 94 MB.
TEST_F(SnapshotSaveTest, ReplacedMediaFileIsWrittenOverByTheNextSave) {
  const std::vector<std::string> files_a = SaveFirstSet();
  const std::string medias = dir_.File("Medias.tbl");
  const std::string previous = dir_.File("Medias.tbl.prev");
  struct stat first_file;
  ASSERT_EQ(stat(medias.c_str(), &first_file), 0);

  FillSecondSet(300);
  ASSERT_TRUE(store_.SaveAllTables());
  struct stat kept;
  ASSERT_EQ(stat(previous.c_str(), &kept), 0);
  EXPECT_EQ(kept.st_ino, first_file.st_ino);
  EXPECT_EQ(testing::ReadFileBytes(previous), files_a[2]);  // Medias is table 3

  // The third save (smaller again) lands in the first file's space, cut to
  // its new length, and the set loads as written.
  testing::FillCatalogue(21);
  ASSERT_TRUE(store_.SaveAllTables());
  struct stat third;
  ASSERT_EQ(stat(medias.c_str(), &third), 0);
  EXPECT_EQ(third.st_ino, first_file.st_ino);
  EXPECT_EQ(testing::ReadSnapshotSet(dir_.path()), files_a);
  ExpectFirstSetLoads();
}

// A crash between a save's link and its rename leaves "Medias.tbl.prev" as a
// second name of the live file: the next save must not write over it.
TEST_F(SnapshotSaveTest, PreviousMediaNameOfTheLiveFileIsNeverWrittenOver) {
  const std::vector<std::string> files_a = SaveFirstSet();
  ASSERT_EQ(link(dir_.File("Medias.tbl").c_str(),
                 dir_.File("Medias.tbl.prev").c_str()),
            0);
  FillSecondSet(300);
  ASSERT_TRUE(store_.StageTable("Medias"));
  store_.DiscardStaged();  // the load after the staging failed
  EXPECT_EQ(testing::ReadSnapshotSet(dir_.path()), files_a);
}

// Start-up stages the media file while the play lists load; the save then
// puts the staged file in place, and a failed load discards it.
TEST_F(SnapshotSaveTest, StagedMediaFileIsSavedOrDiscarded) {
  const std::vector<std::string> files_a = SaveFirstSet();
  FillSecondSet(300);
  ASSERT_TRUE(store_.StageTable("Medias"));
  EXPECT_TRUE(platform::FileReadable(dir_.File("Medias.tbl.new")));
  store_.DiscardStaged();
  EXPECT_EQ(testing::SortedListing(dir_.path()), testing::NineFileListing());
  EXPECT_EQ(testing::ReadSnapshotSet(dir_.path()), files_a);

  ASSERT_TRUE(store_.StageTable("Medias"));
  const std::vector<std::string> expected_b = [&] {
    SnapshotStore plain;
    testing::ScratchDir other;
    setenv("RONDEL_SNAPSHOT_DIR", other.path().c_str(), 1);
    EXPECT_TRUE(plain.SaveAllTables());
    setenv("RONDEL_SNAPSHOT_DIR", dir_.path().c_str(), 1);
    return testing::ReadSnapshotSet(other.path());
  }();
  ASSERT_TRUE(store_.SaveAllTables());
  EXPECT_EQ(testing::ReadSnapshotSet(dir_.path()), expected_b);
  EXPECT_EQ(testing::SortedListing(dir_.path()), testing::NineFileListing());
  EXPECT_FALSE(store_.StageTable("NoSuchTable"));
}

TEST_F(SnapshotSaveTest, SaveIntoAnUnwritableDirectoryFails) {
  setenv("RONDEL_SNAPSHOT_DIR", (dir_.path() + "/no/such/levels").c_str(), 1);
  testing::FillCatalogue(1);
  EXPECT_FALSE(store_.SaveAllTables());
}

}  // namespace
}  // namespace rondel
