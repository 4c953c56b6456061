// The snapshot file format, described once: the store's writer and reader, the
// tests and the operator tools all take the header layout, the nine tables and
// their names from here.
//
// clang-format off
// Each file is an 80-byte header followed by the table's first RecordCount
// records, byte for byte as they lie in memory:
//   offset size field        content
//        0    8 Magic        "TABLE:" and two zero bytes (the eighth byte is
//                            not examined by a load)
//        8   64 TableName    the table name, then zero bytes
//       72    4 RecordCount  signed int32, records that follow
//       76    4 RecordSize   signed int32, bytes per record (the table's)
//       80    n Records      RecordCount * RecordSize bytes
// Byte order: every integer, in the header and in the records, is
// little-endian (the records are the in-memory layouts of catalogue/tables.h,
// and the library runs on little-endian machines only; asserted below).
//
// The nine tables, in save and load order:
//   table name     file               record  count saved      capacity
//                                     size                     (largest loaded)
//   TABLE_RECORDS  TABLE_RECORDS.tbl  28      1                1
//   Rooms          Rooms.tbl          52      RoomCount        512
//   Medias         Medias.tbl         942     MediaCount       100000
//   FILE_SERVERS   FILE_SERVERS.tbl   36      FileServerCount  20
//   AllSequence    AllSequence.tbl    4       its entry count  200
//   MonthSequence  MonthSequence.tbl  4       its entry count  200
//   WeekSequence   WeekSequence.tbl   4       its entry count  200
//   NewSequence    NewSequence.tbl    4       its entry count  200
//   UserSequence   UserSequence.tbl   4       its entry count  100000
// clang-format on
#ifndef RONDEL_CATALOGUE_SNAPSHOT_FORMAT_H_
#define RONDEL_CATALOGUE_SNAPSHOT_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "catalogue/tables.h"

namespace rondel {
namespace snapshot {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "snapshot files hold little-endian integers");

constexpr size_t kMagicOffset = 0;
constexpr size_t kMagicSize = 8;
constexpr size_t kTableNameOffset = 8;
constexpr size_t kTableNameSize = 64;
constexpr size_t kRecordCountOffset = 72;
constexpr size_t kRecordSizeOffset = 76;
constexpr size_t kHeaderSize = 80;
constexpr char kMagic[kMagicSize] = {'T', 'A', 'B', 'L', 'E', ':', 0, 0};
// The bytes of Magic a load compares (the eighth is not examined).
constexpr size_t kMagicCompared = 7;

static_assert(kTableNameOffset == kMagicOffset + kMagicSize, "header layout");
static_assert(kRecordCountOffset == kTableNameOffset + kTableNameSize,
              "header layout");
static_assert(kRecordSizeOffset == kRecordCountOffset + 4, "header layout");
static_assert(kHeaderSize == kRecordSizeOffset + 4, "header layout");

// The snapshot directory's name beside the host executable.
constexpr char kDirectoryName[] = "VideoServertable/";

// The nine tables, in save and load order.
enum Table : int {
  kTableRecords,
  kRooms,
  kMedias,
  kFileServers,
  kAllSequence,
  kMonthSequence,
  kWeekSequence,
  kNewSequence,
  kUserSequence,
  kTableCount
};

struct TableFormat {
  const char* table_name;  // as stored in TableName; the key of every lookup
  const char* file_name;
  int32_t record_size;
  int32_t capacity;  // the largest RecordCount a load accepts
};

constexpr TableFormat kTables[kTableCount] = {
    {"TABLE_RECORDS", "TABLE_RECORDS.tbl", sizeof(TableRecords), 1},
    {"Rooms", "Rooms.tbl", sizeof(RoomRecord), kRoomCapacity},
    {"Medias", "Medias.tbl", sizeof(MediaRecord), kMediaCapacity},
    {"FILE_SERVERS", "FILE_SERVERS.tbl", sizeof(FileServerRecord),
     kFileServerCapacity},
    {"AllSequence", "AllSequence.tbl", sizeof(int32_t), kSequenceCapacity},
    {"MonthSequence", "MonthSequence.tbl", sizeof(int32_t), kSequenceCapacity},
    {"WeekSequence", "WeekSequence.tbl", sizeof(int32_t), kSequenceCapacity},
    {"NewSequence", "NewSequence.tbl", sizeof(int32_t), kSequenceCapacity},
    {"UserSequence", "UserSequence.tbl", sizeof(int32_t),
     kUserSequenceCapacity},
};

// The table called exactly `table_name` (case-sensitive), or kTableCount for a
// null, empty or unknown name.
inline Table FindTable(const char* table_name) {
  if (table_name == nullptr || table_name[0] == '\0') return kTableCount;
  for (int k = 0; k < kTableCount; ++k) {
    if (std::strcmp(kTables[k].table_name, table_name) == 0) {
      return static_cast<Table>(k);
    }
  }
  return kTableCount;
}

// Where each counter of TableRecords lies in its record (for tools that read
// the file without the catalogue).
constexpr size_t kMediaCountOffset = offsetof(TableRecords, MediaCount);
constexpr size_t kRoomCountOffset = offsetof(TableRecords, RoomCount);
constexpr size_t kFileServerCountOffset =
    offsetof(TableRecords, FileServerCount);

}  // namespace snapshot
}  // namespace rondel

#endif  // RONDEL_CATALOGUE_SNAPSHOT_FORMAT_H_
