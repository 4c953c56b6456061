#include "catalogue/snapshot_commit.h"

#include <cstring>
#include <string>

#include "platform/coding.h"
#include "platform/file.h"

namespace rondel {
namespace snapshot {

std::string CommitRecordBytes() {
  std::string bytes(kCommitMagic, kCommitMagicSize);
  platform::PutUint32(kTableCount, &bytes);
  platform::PutUint32(platform::Crc32(bytes.data(), bytes.size()), &bytes);
  return bytes;
}

bool ReplacementCommitted(const std::string& directory) {
  platform::File file =
      platform::File::OpenForRead(directory + kCommitFileName);
  if (!file.valid()) return false;
  // One byte more than a record: a longer file is no record either.
  char bytes[kCommitRecordSize + 1];
  const size_t got = file.Read(bytes, sizeof bytes);
  return got == kCommitRecordSize &&
         std::memcmp(bytes, CommitRecordBytes().data(), kCommitRecordSize) == 0;
}

std::string ServedTablePath(const std::string& directory, Table table,
                            bool committed) {
  const std::string live = directory + kTables[table].file_name;
  if (committed) {
    const std::string replacing = live + ".new";
    // Absent only when it has no name at all: a file that cannot be opened
    // fails the load instead of letting the previous table stand in.
    if (platform::LinkCount(replacing) != 0) return replacing;
  }
  return live;
}

}  // namespace snapshot
}  // namespace rondel
