// The checks a snapshot load makes, in one place: the store's loader and the
// operator's inspector both read table files through CheckTableFile, so the
// inspector cannot pass a file the loader refuses, nor the other way round.
//
// Each check says what failed, in words an operator can act on:
//   Rooms.tbl: 100 bytes of records, 156 expected
//   Medias.tbl: record size 941, 942 expected
//   TABLE_RECORDS.tbl: MediaCount 100001 beyond 100000
//
// The order of the checks is the load's: open, Magic, TableName, RecordCount
// and RecordSize read, record size, record count, the records, and for
// TABLE_RECORDS the stored media, room and file-server counters. The first
// that fails decides the reason.
#ifndef RONDEL_CATALOGUE_SNAPSHOT_CHECK_H_
#define RONDEL_CATALOGUE_SNAPSHOT_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>

#include "catalogue/snapshot_format.h"
#include "catalogue/tables.h"

namespace rondel {
namespace snapshot {

// What a table file failed on; kNone when it passed.
enum class TableFault {
  kNone,
  kCannotOpen,             // missing or unreadable (error_number says which)
  kShortHeader,            // the file ends inside the 80-byte header
  kBadMagic,               // not "TABLE:" and a zero byte
  kWrongName,              // TableName is not the table's
  kWrongRecordSize,        // RecordSize is not the table's record size
  kRecordCountOutOfRange,  // RecordCount below 0 or beyond the capacity
  kShortRecords,           // fewer than RecordCount * RecordSize bytes follow
  kRefused,                // the destination gave no memory for the records
  kCounterOutOfRange,      // TABLE_RECORDS: a stored counter beyond its table
};

// The outcome of reading one table file.
struct TableCheck {
  bool ok = false;
  TableFault fault = TableFault::kNone;
  // "<file name>: <what failed>"; empty when ok.
  std::string reason;
  // errno of the failed open or read; 0 when the system reported none (a
  // file that simply ends early).
  int error_number = 0;
  // From the header, once it was read (0 before).
  int32_t record_count = 0;
  int32_t record_size = 0;
};

// Why `record_count` and `record_size` from a header do not fit `table`
// ("record size 941, 942 expected", "record count 21 beyond 20", "record count
// -1 negative"), or empty when they do: the size must be the table's record
// size, the count between 0 and the table's capacity.
std::string RecordShapeFault(Table table, int32_t record_count,
                             int32_t record_size);

// Why stored counters cannot be used ("MediaCount 100001 beyond 100000"; each
// failing counter named, in record order), or empty when MediaCount, RoomCount
// and FileServerCount all lie within their tables.
std::string StoredCounterFault(const TableRecords& counters);

// Called once a file's header has passed, with its RecordCount; returns the
// memory that receives RecordCount records of the table's size, or null to
// refuse them.
using RecordDestination = std::function<void*(int32_t record_count)>;

// Opens `path`, checks its header as belonging to `table`, asks `destination`
// for memory and reads the records into it. When the records come up short,
// the destination's counted span is zeroed again (no half-read record stays).
// For TABLE_RECORDS, the stored counters are checked last (kCounterOutOfRange:
// the records were read; clearing them is the caller's choice). Bytes after the
// records are never read. Throws nothing but std::bad_alloc (reasons are
// composed as strings). REQUIRES: table < kTableCount.
TableCheck CheckTableFile(const std::string& path, Table table,
                          const RecordDestination& destination);

// Counters as a load leaves them: MediaCount, RoomCount and FileServerCount
// lowered to the records their tables brought (`records_loaded`, in table
// order; 0 for a table that failed or was not reached). A smaller counter
// stays: it still decides how many records are served.
TableRecords CountersServed(const TableRecords& stored,
                            const int32_t (&records_loaded)[kTableCount]);

}  // namespace snapshot
}  // namespace rondel

#endif  // RONDEL_CATALOGUE_SNAPSHOT_CHECK_H_
