// Damaged snapshot files, one table of cases shared by the loader's tests and
// the inspector's: each damages one file of a set saved from
// FillCatalogue(11) (snapshot_files.h) and says what a load must then do and
// the reason it must give.
#ifndef RONDEL_TESTS_SUPPORT_SNAPSHOT_DAMAGE_CASES_H_
#define RONDEL_TESTS_SUPPORT_SNAPSHOT_DAMAGE_CASES_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

#include "catalogue_records.h"
#include "files.h"
#include "snapshot_files.h"

namespace rondel {
namespace testing {

// How one file is damaged, and what the load must then do.
struct DamageCase {
  const char* name;
  int table;  // 0..8, in load order
  // Rewrites the file's bytes; null removes the file.
  std::function<void(std::string&)> damage;
  bool load_succeeds;
  // For a failing load: true when the header passed, so the failing table's
  // counted span is left zeroed (no half-read record), false when its memory
  // must be untouched.
  bool failing_table_zeroed;
  // For a failing load, the reason the check gives.
  const char* reason;
};

inline void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

inline void PutLe32(std::string& bytes, size_t offset, int32_t value) {
  bytes.replace(offset, 4, Le32(value));
}

inline const DamageCase kDamageCases[] = {
    {"BadMagic", 1, [](std::string& f) { f[3] = 'X'; }, false, false,
     "Rooms.tbl: magic \"TABXE:\", \"TABLE:\" expected"},
    {"SeventhMagicByteNotZero", 6, [](std::string& f) { f[6] = 'Z'; }, false,
     false, "WeekSequence.tbl: magic \"TABLE:Z\", \"TABLE:\" expected"},
    {"EighthMagicByteIgnored", 2, [](std::string& f) { f[7] = 'Z'; }, true,
     false, ""},
    {"NameDiffersInCase", 2, [](std::string& f) { f[8] = 'm'; }, false, false,
     "Medias.tbl: table name \"medias\", \"Medias\" expected"},
    {"NameWithSuffix", 4, [](std::string& f) { f[8 + 11] = 'X'; }, false, false,
     "AllSequence.tbl: table name \"AllSequenceX\", \"AllSequence\" expected"},
    {"BytesAfterNameTerminatorIgnored", 3,
     [](std::string& f) { f[8 + 63] = 'Q'; }, true, false, ""},
    {"RecordSize941", 2, [](std::string& f) { PutLe32(f, 76, 941); }, false,
     false, "Medias.tbl: record size 941, 942 expected"},
    {"RecordCount21InFileServers", 3,
     [](std::string& f) { PutLe32(f, 72, 21); }, false, false,
     "FILE_SERVERS.tbl: record count 21 beyond 20"},
    {"RecordCountNegative", 3, [](std::string& f) { PutLe32(f, 72, -1); },
     false, false, "FILE_SERVERS.tbl: record count -1 negative"},
    {"ShortHeader", 5, [](std::string& f) { f.resize(79); }, false, false,
     "MonthSequence.tbl: header of 79 bytes, 80 expected"},
    {"ShortRecords", 8, [](std::string& f) { f.resize(f.size() - 1); }, false,
     true, "UserSequence.tbl: 15 bytes of records, 16 expected"},
    {"ShortRoomRecords", 1, [](std::string& f) { f.resize(f.size() - 56); },
     false, true, "Rooms.tbl: 100 bytes of records, 156 expected"},
    {"ExtraBytesIgnored", 1,
     [](std::string& f) { f += std::string(100, '\x77'); }, true, false, ""},
    {"StoredMediaCount100001", 0,
     [](std::string& f) { PutLe32(f, 80, 100001); }, false, false,
     "TABLE_RECORDS.tbl: MediaCount 100001 beyond 100000"},
    {"StoredRoomCount513", 0, [](std::string& f) { PutLe32(f, 80 + 8, 513); },
     false, false, "TABLE_RECORDS.tbl: RoomCount 513 beyond 512"},
    {"StoredFileServerCountNegative", 0,
     [](std::string& f) { PutLe32(f, 80 + 12, -1); }, false, false,
     "TABLE_RECORDS.tbl: FileServerCount -1 negative"},
    {"MissingFile", 7, nullptr, false, false, "NewSequence.tbl: missing"},
};

// Damages the file of `c` in the snapshot set at `directory`.
inline void ApplyDamage(const std::string& directory, const DamageCase& c) {
  const std::string path = directory + "/" + kSnapshotTables[c.table].file_name;
  if (c.damage) {
    std::string bytes = ReadFileBytes(path);
    c.damage(bytes);
    WriteFileBytes(path, bytes);
  } else {
    std::remove(path.c_str());
  }
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_SNAPSHOT_DAMAGE_CASES_H_
