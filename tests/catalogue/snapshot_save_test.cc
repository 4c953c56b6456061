// A save replaces the last good snapshot set only when the new set is complete:
// a write that fails part-way, or a process killed in the middle of a save,
// leaves the previous nine files exactly as they were. The snapshot directory
// is "VideoServertable" inside the test's scratch directory, so the sibling a
// save writes into stays inside it too.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "captured_log.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "disk_usage.h"
#include "files.h"
#include "platform/file.h"
#include "platform/syscall_test_hooks.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "syscall_sweep.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;
using testing::UnsetEnv;

class SnapshotSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    SetEnv("RONDEL_SNAPSHOT_DIR", snapshots_);
    platform::ResetSyscalls();
  }
  void TearDown() override {
    platform::ResetSyscalls();
    UnsetEnv("RONDEL_SNAPSHOT_DIR");
  }

  // Saves catalogue A and returns its files.
  std::vector<std::string> SaveFirstSet() {
    testing::FillCatalogue(21);
    for (int k = 0; k < 9; ++k) saved_a_[k] = testing::TableBytes(k);
    EXPECT_TRUE(store_.SaveAllTables());
    return testing::ReadSnapshotSet(snapshots_);
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

  // The files a plain save of the catalogue as it is now writes.
  std::vector<std::string> SetSavedElsewhere() {
    SnapshotStore plain;
    testing::ScratchDir other;
    SetEnv("RONDEL_SNAPSHOT_DIR", other.path());
    EXPECT_TRUE(plain.SaveAllTables());
    SetEnv("RONDEL_SNAPSHOT_DIR", snapshots_);
    return testing::ReadSnapshotSet(other.path());
  }

  // The save's one log line, and the error it reports.
  std::tuple<std::vector<std::string>, std::string, int> Logged(
      const testing::CapturedLog& log) const {
    return std::make_tuple(log.Lines(), store_.LastSave().step,
                           store_.LastSave().error_number);
  }
  std::tuple<std::vector<std::string>, std::string, int> OneLine(
      const char* step, int error_number) const {
    return std::make_tuple(
        std::vector<std::string>{"snapshot save: " +
                                 store_.LastSave().ToString()},
        step, error_number);
  }

  testing::ScratchDir dir_;
  testing::ScratchDir logs_;
  const std::string snapshots_ = dir_.File("VideoServertable");
  const std::string staging_ = dir_.File("VideoServertable.new");
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
  // A full disk: nothing the failed save wrote stays, its media file least
  // of all, and the log says which write failed.
  const auto before = testing::TreeSizes(dir_.path());
  for (long long budget : budgets) {
    testing::CapturedLog log(logs_.File("rondel" + std::to_string(budget)));
    platform::SetWriteBudget(budget);
    EXPECT_FALSE(store_.SaveAllTables()) << "budget " << budget;
    platform::SetWriteBudget(-1);
    EXPECT_EQ(testing::ReadSnapshotSet(snapshots_), files_a)
        << "budget " << budget;
    EXPECT_EQ(testing::NewOrGrown(before, testing::TreeSizes(dir_.path())), "")
        << "budget " << budget;
    EXPECT_EQ(Logged(log), OneLine("write", ENOSPC)) << "budget " << budget;
  }
  // With exactly enough room the save goes through and replaces the set.
  platform::SetWriteBudget(total);
  EXPECT_TRUE(store_.SaveAllTables());
  platform::SetWriteBudget(-1);
  EXPECT_NE(testing::ReadSnapshotSet(snapshots_), files_a);
  EXPECT_EQ(testing::SortedListing(snapshots_), testing::NineFileListing());

  // Back to A for the load check.
  testing::FillCatalogue(21);
  ASSERT_TRUE(store_.SaveAllTables());
  ExpectFirstSetLoads();
}

// A read-only file system refuses every call that would change it (as root,
// no mode does: the calls are refused here instead).
int ReadOnlyOpen(const char* path, int flags, mode_t mode) {
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0) {
    errno = EROFS;
    return -1;
  }
  return open(path, flags, mode);
}
int ReadOnlyPath(const char*) {
  errno = EROFS;
  return -1;
}
int ReadOnlyMkdir(const char*, mode_t) {
  errno = EROFS;
  return -1;
}
int ReadOnlyPair(const char*, const char*) {
  errno = EROFS;
  return -1;
}
int ReadOnlyExchange(int, const char*, int, const char*, unsigned int) {
  errno = EROFS;
  return -1;
}

TEST_F(SnapshotSaveTest, ReadOnlyDirectoryFailsWithOneLineAndNothingLeft) {
  const std::vector<std::string> files_a = SaveFirstSet();
  const auto before = testing::TreeSizes(dir_.path());
  FillSecondSet(40);
  testing::CapturedLog log(logs_.File("rondel.log"));
  platform::SyscallFunctions calls;
  calls.open = &ReadOnlyOpen;
  calls.mkdir = &ReadOnlyMkdir;
  calls.rmdir = calls.unlink = &ReadOnlyPath;
  calls.rename = calls.link = &ReadOnlyPair;
  calls.renameat2 = &ReadOnlyExchange;
  platform::ReplaceSyscalls(calls);
  EXPECT_FALSE(store_.SaveAllTables());
  platform::ResetSyscalls();
  EXPECT_EQ(std::make_tuple(testing::ReadSnapshotSet(snapshots_),
                            testing::TreeSizes(dir_.path())),
            std::make_tuple(files_a, before));
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{
                "snapshot save: remove \"" + snapshots_ +
                "/TABLE_RECORDS.tbl.new\": Read-only file system"});
}

// A snapshot directory that is a mount point, as the calls see it: the
// exchange with the sibling is refused as busy, a name is neither renamed nor
// linked across the two mounts, and a read-only mount refuses every change
// inside it.
std::string g_mount;  // the snapshot directory, with its '/'
bool g_mount_read_only = false;
bool OnMount(const char* path) {
  return std::strncmp(path, g_mount.c_str(), g_mount.size()) == 0;
}
int MountOpen(const char* path, int flags, mode_t mode) {
  if (g_mount_read_only && OnMount(path) &&
      (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0) {
    errno = EROFS;
    return -1;
  }
  return open(path, flags, mode);
}
int MountUnlink(const char* path) {
  if (g_mount_read_only && OnMount(path)) {
    errno = EROFS;
    return -1;
  }
  return unlink(path);
}
template <int (*kCall)(const char*, const char*)>
int MountPair(const char* from, const char* to) {
  if (OnMount(from) != OnMount(to)) {
    errno = EXDEV;
    return -1;
  }
  if (g_mount_read_only && OnMount(to)) {
    errno = EROFS;
    return -1;
  }
  return kCall(from, to);
}
int MountExchange(int, const char*, int, const char*, unsigned int) {
  errno = EBUSY;
  return -1;
}

// Makes the snapshot directory a mount point for the calls from now on.
// `calls` may replace others.
void MountSnapshots(const std::string& snapshots, bool read_only,
                    platform::SyscallFunctions calls = {}) {
  g_mount = snapshots + "/";
  g_mount_read_only = read_only;
  calls.open = &MountOpen;
  calls.unlink = &MountUnlink;
  calls.rename = &MountPair<rename>;
  calls.link = &MountPair<link>;
  calls.renameat2 = &MountExchange;
  platform::ReplaceSyscalls(calls);
}

struct Mount {
  const char* name;
  bool read_only;
  bool outbox;  // another file in the directory, which follows the set
};

void PrintTo(const Mount& mount, std::ostream* os) { *os << mount.name; }

class SnapshotMountPointTest : public SnapshotSaveTest,
                               public ::testing::WithParamInterface<Mount> {};

// Writable: the set goes in place file by file, the outbox stays and nothing
// else is left. Read-only: the one line names the step that met the read-only
// file system, and nothing is left either.
TEST_P(SnapshotMountPointTest, SaveGoesFileByFileOrNamesTheRealCause) {
  const Mount& mount = GetParam();
  const std::vector<std::string> files_a = SaveFirstSet();
  const std::string outbox = snapshots_ + "/PlayRecords.outbox";
  if (mount.outbox) testing::WriteFileBytes(outbox, "kept plays");
  FillSecondSet(40);
  const std::vector<std::string> files_b = SetSavedElsewhere();
  const auto before = testing::TreeSizes(dir_.path());
  testing::CapturedLog log(logs_.File("rondel.log"));
  MountSnapshots(snapshots_, mount.read_only);
  const bool saved = store_.SaveAllTables();
  platform::ResetSyscalls();

  std::string listing = testing::NineFileListing();
  if (mount.outbox)
    listing.insert(listing.find("Rooms"), "PlayRecords.outbox\n");
  const std::vector<std::string> files = testing::ReadSnapshotSet(snapshots_);
  const char* set = files == files_a   ? "previous"
                    : files == files_b ? "new"
                                       : "mixed";
  const auto outcome = std::make_tuple(saved, log.Lines(), std::string(set),
                                       testing::SortedListing(snapshots_),
                                       testing::PathExists(staging_));
  if (mount.read_only) {
    EXPECT_EQ(outcome,
              std::make_tuple(false,
                              std::vector<std::string>{
                                  "snapshot save: remove \"" + snapshots_ +
                                  "/TABLE_RECORDS.tbl.new\": Read-only file "
                                  "system"},
                              std::string("previous"), listing, false));
    EXPECT_EQ(testing::NewOrGrown(before, testing::TreeSizes(dir_.path())), "");
  } else {
    EXPECT_EQ(outcome, std::make_tuple(true, std::vector<std::string>{},
                                       std::string("new"), listing, false));
  }
  EXPECT_EQ(testing::ReadFileBytes(outbox), mount.outbox ? "kept plays" : "");
}

const Mount kMounts[] = {
    {"Writable", false, false},
    {"WritableWithOutbox", false, true},
    {"ReadOnly", true, false},
    {"ReadOnlyWithOutbox", true, true},
};

INSTANTIATE_TEST_SUITE_P(Mounts, SnapshotMountPointTest,
                         ::testing::ValuesIn(kMounts),
                         [](const ::testing::TestParamInfo<Mount>& info) {
                           return std::string(info.param.name);
                         });

// On a writable mount point a failure at any call of the save, the calls
// that write the set again included, leaves the previous set or the new one,
// and a failed save leaves nothing behind; with an outbox the sibling is
// given up at its link, without one at the exchange.
TEST_F(SnapshotSaveTest, EveryFailedCallOnAMountPointLeavesAWholeSet) {
  const std::vector<std::string> files_a = SaveFirstSet();
  FillSecondSet(40);
  const std::vector<std::string> files_b = SetSavedElsewhere();
  for (const bool outbox : {false, true}) {
    SCOPED_TRACE(outbox ? "with an outbox" : "without an outbox");
    std::map<std::string, long long> before;
    // Flushes that only reach the cache keep the sweep quick; each is still
    // a call that fails in its turn.
    platform::SyscallFunctions cached;
    cached.fsync = [](int) { return 0; };
    const long points = testing::SweepFailures(
        [&] {
          platform::ResetSyscalls();
          platform::ReplaceSyscalls(cached);
          testing::FillCatalogue(21);
          ASSERT_TRUE(store_.SaveAllTables());
          if (outbox) {
            testing::WriteFileBytes(snapshots_ + "/PlayRecords.outbox", "kept");
          }
          FillSecondSet(40);
          before = testing::TreeSizes(dir_.path());
          MountSnapshots(snapshots_, false, cached);
        },
        [&] { return store_.SaveAllTables(); },
        [&](long, bool saved) {
          platform::ResetSyscalls();
          EXPECT_EQ(testing::ReadSnapshotSet(snapshots_),
                    saved ? files_b : files_a);
          if (!saved) {
            EXPECT_EQ(
                testing::NewOrGrown(before, testing::TreeSizes(dir_.path())),
                "");
          }
        });
    EXPECT_GT(points, 60);
  }
}

TEST_F(SnapshotSaveTest, FailedSaveStillLeavesALoadableSet) {
  SaveFirstSet();
  FillSecondSet(10);
  platform::SetWriteBudget(500);
  EXPECT_FALSE(store_.SaveAllTables());
  platform::SetWriteBudget(-1);
  ExpectFirstSetLoads();
}

// The child's writes: the media table's name field tells the parent and waits
// there to be killed.
int g_told_parent = -1;
ssize_t WriteUntilTheMediaTable(int fd, const void* data, size_t length) {
  if (length == snapshot::kTableNameSize &&
      std::memcmp(data, "Medias", 7) == 0) {
    char ready = 1;
    (void)!write(g_told_parent, &ready, 1);
    for (;;) pause();
  }
  return write(fd, data, length);
}

TEST_F(SnapshotSaveTest, SaveKilledMidWayLeavesThePreviousSetComplete) {
  const std::vector<std::string> files_a = SaveFirstSet();
  FillSecondSet(5000);

  // The child is certainly in the middle of its save, with two tables already
  // written, when it dies.
  int told[2];
  ASSERT_EQ(pipe(told), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    g_told_parent = told[1];
    platform::SyscallFunctions calls;
    calls.write = &WriteUntilTheMediaTable;
    platform::ReplaceSyscalls(calls);
    SnapshotStore store;
    store.SaveAllTables();
    _exit(0);
  }
  close(told[1]);
  char ready = 0;
  EXPECT_EQ(read(told[0], &ready, 1), 1) << "the save ended without writing";
  close(told[0]);
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the save finished before it was killed";

  EXPECT_EQ(testing::ReadSnapshotSet(snapshots_), files_a);
  ExpectFirstSetLoads();

  // The next save clears what the killed one left behind and completes the
  // set.
  FillSecondSet(5000);
  EXPECT_TRUE(store_.SaveAllTables());
  EXPECT_EQ(testing::SortedListing(snapshots_), testing::NineFileListing());
  EXPECT_FALSE(testing::PathExists(staging_));
  ResetCatalogue();
  ASSERT_TRUE(store_.LoadAllTables());
  EXPECT_EQ(g_catalogue.table_records.MediaCount, 5000);
  EXPECT_EQ(int32_t{g_catalogue.medias[4999].MediaId}, 94999);
}

// A save keeps the media file it replaces as "Medias.tbl.prev" and the next
// save writes over that file's space instead of freeing and allocating 94 MB.
TEST_F(SnapshotSaveTest, ReplacedMediaFileIsWrittenOverByTheNextSave) {
  const std::vector<std::string> files_a = SaveFirstSet();
  const std::string medias = snapshots_ + "/Medias.tbl";
  const std::string previous = snapshots_ + "/Medias.tbl.prev";
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
  EXPECT_EQ(testing::ReadSnapshotSet(snapshots_), files_a);
  ExpectFirstSetLoads();
}

// A crash between a save's link and its rename leaves "Medias.tbl.prev" as a
// second name of the live file: the next save must not write over it.
TEST_F(SnapshotSaveTest, PreviousMediaNameOfTheLiveFileIsNeverWrittenOver) {
  const std::vector<std::string> files_a = SaveFirstSet();
  ASSERT_EQ(link((snapshots_ + "/Medias.tbl").c_str(),
                 (snapshots_ + "/Medias.tbl.prev").c_str()),
            0);
  FillSecondSet(300);
  ASSERT_TRUE(store_.StageTable("Medias"));
  store_.DiscardStaged();  // the load after the staging failed
  EXPECT_EQ(testing::ReadSnapshotSet(snapshots_), files_a);
}

// Start-up stages the media file while the play lists load; the save then
// puts the staged file in place, and a failed load discards it.
TEST_F(SnapshotSaveTest, StagedMediaFileIsSavedOrDiscarded) {
  const std::vector<std::string> files_a = SaveFirstSet();
  FillSecondSet(300);
  ASSERT_TRUE(store_.StageTable("Medias"));
  EXPECT_TRUE(platform::FileReadable(staging_ + "/Medias.tbl"));
  store_.DiscardStaged();
  EXPECT_EQ(testing::SortedListing(snapshots_), testing::NineFileListing());
  EXPECT_FALSE(testing::PathExists(staging_));
  EXPECT_EQ(testing::ReadSnapshotSet(snapshots_), files_a);

  ASSERT_TRUE(store_.StageTable("Medias"));
  const std::vector<std::string> expected_b = SetSavedElsewhere();
  ASSERT_TRUE(store_.SaveAllTables());
  EXPECT_EQ(testing::ReadSnapshotSet(snapshots_), expected_b);
  EXPECT_EQ(testing::SortedListing(snapshots_), testing::NineFileListing());
  EXPECT_FALSE(store_.StageTable("NoSuchTable"));
}

TEST_F(SnapshotSaveTest, SaveIntoAnUnwritableDirectoryFails) {
  SetEnv("RONDEL_SNAPSHOT_DIR", dir_.path() + "/no/such/levels");
  testing::FillCatalogue(1);
  EXPECT_FALSE(store_.SaveAllTables());
}

}  // namespace
}  // namespace rondel
