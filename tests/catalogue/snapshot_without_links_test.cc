// A snapshot directory on a volume without hard links (FAT32, exFAT, many
// network shares: link() refused with EPERM, as vfat does): saves still put
// each new set in place, whole, file by file, with other files of the
// directory left where they are.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "captured_log.h"
#include "catalogue/snapshot_store.h"
#include "files.h"
#include "platform/syscall_test_hooks.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "snapshot_sets.h"

namespace rondel {
namespace {

struct Volume {
  const char* name;
  bool exchange_refused;  // renameat2 answers EINVAL as well
  bool outbox;            // another file the exchange would carry by link
};

void PrintTo(const Volume& v, std::ostream* os) { *os << v.name; }

int RefuseLink(const char*, const char*) {
  errno = EPERM;
  return -1;
}
int RefuseExchange(int, const char*, int, const char*, unsigned int) {
  errno = EINVAL;
  return -1;
}

class SnapshotWithoutLinksTest : public ::testing::TestWithParam<Volume> {
 protected:
  void TearDown() override {
    platform::ResetSyscalls();
    unsetenv("RONDEL_SNAPSHOT_DIR");
  }
};

TEST_P(SnapshotWithoutLinksTest, EverySaveReplacesTheWholeSet) {
  const Volume& v = GetParam();
  const std::vector<std::string> previous =
      testing::SetOf(testing::FillPrevious);
  const std::vector<std::string> next = testing::SetOf(testing::FillNew);
  testing::ScratchDir dir;
  testing::ScratchDir logs;
  testing::CapturedLog log(logs.File("rondel.log"));
  const std::string snapshots = dir.File("VideoServertable");
  setenv("RONDEL_SNAPSHOT_DIR", snapshots.c_str(), 1);
  std::string listing = testing::NineFileListing();
  if (v.outbox)
    listing.insert(listing.find("Rooms.tbl"), "PlayRecords.outbox\n");
  platform::SyscallFunctions calls;
  calls.link = &RefuseLink;
  if (v.exchange_refused) calls.renameat2 = &RefuseExchange;
  platform::ReplaceSyscalls(calls);
  std::vector<bool> saved;
  std::vector<std::string> sets;
  for (void (*fill)() : {testing::FillPrevious, testing::FillNew}) {
    // Plays kept since the first save: the second one has a file to carry.
    if (v.outbox && fill == testing::FillNew) {
      testing::WriteFileBytes(snapshots + "/PlayRecords.outbox", "kept plays");
    }
    fill();
    SnapshotStore store;
    saved.push_back(store.SaveAllTables());
    sets.push_back(
        testing::WhichSet(testing::ReadSnapshotSet(snapshots), previous, next));
  }
  platform::ResetSyscalls();
  std::vector<std::string> lines;
  if (v.outbox) {  // only the outbox's second name needs a link
    lines.push_back("snapshot save: \"" + snapshots +
                    "\" refuses hard links (Operation not permitted); the "
                    "files are replaced one by one without them");
  }
  EXPECT_EQ(std::make_tuple(saved, sets, testing::SortedListing(snapshots),
                            log.Lines()),
            std::make_tuple(std::vector<bool>{true, true},
                            std::vector<std::string>{"previous", "new"},
                            listing, lines));
}

const Volume kVolumes[] = {
    {"FileByFile", true, false},
    {"FileByFileWithOutbox", true, true},
    {"ExchangeWithOutbox", false, true},
};

INSTANTIATE_TEST_SUITE_P(Volumes, SnapshotWithoutLinksTest,
                         ::testing::ValuesIn(kVolumes),
                         [](const ::testing::TestParamInfo<Volume>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace rondel
