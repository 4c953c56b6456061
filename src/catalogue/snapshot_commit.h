// The commit record of a snapshot set replaced file by file, shared by the
// store (which writes it and loads through it) and the operator's inspector
// (which reads through it), so that both see the same set.
//
// Once the nine "X.tbl.new" files are flushed, the store writes the record
// "Tables.commit" into the snapshot directory and flushes it before the first
// live file is touched. While a valid record is there, the set is the new one:
// for each table "X.tbl.new" where that name still exists, else "X.tbl" (each
// rename of the replacement keeps this view unchanged). Without a valid record
// (none, or one torn by a crash while it was written) the set is the nine
// "X.tbl", and any "X.tbl.new" is a leftover that nobody reads.
//
// The record, 16 bytes, integers little-endian:
//   offset size  meaning
//        0    8  Magic "RNDLSETC"
//        8    4  the number of tables replaced (9)
//       12    4  CRC-32 (platform/coding.h) of bytes 0..11
// Any other length or content is no record.
#ifndef RONDEL_CATALOGUE_SNAPSHOT_COMMIT_H_
#define RONDEL_CATALOGUE_SNAPSHOT_COMMIT_H_

#include <cstddef>
#include <string>

#include "catalogue/snapshot_format.h"

namespace rondel {
namespace snapshot {

constexpr char kCommitFileName[] = "Tables.commit";
constexpr char kCommitMagic[] = "RNDLSETC";
constexpr size_t kCommitMagicSize = 8;
constexpr size_t kCommitCountOffset = 8;
constexpr size_t kCommitCrcOffset = 12;
constexpr size_t kCommitRecordSize = 16;
static_assert(sizeof(kCommitMagic) == kCommitMagicSize + 1, "record layout");
static_assert(kCommitCountOffset == kCommitMagicSize, "record layout");
static_assert(kCommitCrcOffset == kCommitCountOffset + 4, "record layout");
static_assert(kCommitRecordSize == kCommitCrcOffset + 4, "record layout");

// The record's 16 bytes.
std::string CommitRecordBytes();

// True when `directory` (ending in '/') holds a valid record: a replacement
// was committed there and not yet finished.
bool ReplacementCommitted(const std::string& directory);

// The file that holds `table` of the set in `directory` (ending in '/'), as
// `committed` (ReplacementCommitted) says. REQUIRES: table < kTableCount.
std::string ServedTablePath(const std::string& directory, Table table,
                            bool committed);

}  // namespace snapshot
}  // namespace rondel

#endif  // RONDEL_CATALOGUE_SNAPSHOT_COMMIT_H_
