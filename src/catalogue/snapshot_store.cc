// The snapshot store: where each table lies in memory, the per-table save and
// load, and the all-tables save that replaces the previous set only once the
// new one is complete on disk.
//
// What a save keeps true:
//  1. The live nine files are never written: new contents go to "X.tbl.new"
//     temporaries, each flushed before any rename.
//  2. Only a complete set of temporaries is renamed into place; a failure
//     before that removes the temporaries and leaves the live set as it was.
//  3. A file whose space is reused ("Medias.tbl.prev") is written over only
//     when it is provably not a second name of a live file.
// And a load:
//  4. Nothing of a table whose load failed is served: its span is zeroed, and
//     no counter exceeds the records its table brought.
#include "catalogue/snapshot_store.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "catalogue/snapshot_check.h"
#include "catalogue/snapshot_format.h"
#include "catalogue/tables.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace rondel {

namespace {

using snapshot::kHeaderSize;
using snapshot::kMagic;
using snapshot::kMagicSize;
using snapshot::kTableCount;
using snapshot::kTableNameSize;
using snapshot::TableFormat;

constexpr char kTemporarySuffix[] = ".new";
constexpr char kPreviousSuffix[] = ".prev";

// Where one of the nine tables lies in memory and which count a save writes.
struct TableInfo {
  const TableFormat& format;
  void* (*first_record)();
  int32_t (*save_count)();
  // Keeps the replaced file as "<file>.prev" and writes the next save over it:
  // freeing and allocating the space of a 94 MB file costs more than the rest
  // of a save.
  bool reuses_space = false;
};

Catalogue& C() { return g_catalogue; }

// In the order of snapshot::kTables.
const TableInfo kTables[kTableCount] = {
    {snapshot::kTables[snapshot::kTableRecords],
     [] { return static_cast<void*>(&C().table_records); },
     [] { return int32_t{1}; }},
    {snapshot::kTables[snapshot::kRooms],
     [] { return static_cast<void*>(C().rooms); },
     [] { return C().table_records.RoomCount; }},
    {snapshot::kTables[snapshot::kMedias],
     [] { return static_cast<void*>(C().medias); },
     [] { return C().table_records.MediaCount; }, /*reuses_space=*/true},
    {snapshot::kTables[snapshot::kFileServers],
     [] { return static_cast<void*>(C().file_servers); },
     [] { return C().table_records.FileServerCount; }},
    {snapshot::kTables[snapshot::kAllSequence],
     [] { return static_cast<void*>(C().all_sequence.entries); },
     [] { return C().all_sequence.count; }},
    {snapshot::kTables[snapshot::kMonthSequence],
     [] { return static_cast<void*>(C().month_sequence.entries); },
     [] { return C().month_sequence.count; }},
    {snapshot::kTables[snapshot::kWeekSequence],
     [] { return static_cast<void*>(C().week_sequence.entries); },
     [] { return C().week_sequence.count; }},
    {snapshot::kTables[snapshot::kNewSequence],
     [] { return static_cast<void*>(C().new_sequence.entries); },
     [] { return C().new_sequence.count; }},
    {snapshot::kTables[snapshot::kUserSequence],
     [] { return static_cast<void*>(C().user_sequence.entries); },
     [] { return C().user_sequence.count; }},
};

const TableInfo* FindTable(const char* table_name) {
  const snapshot::Table k = snapshot::FindTable(table_name);
  return k == kTableCount ? nullptr : &kTables[k];
}

bool WriteAll(platform::File& file, const void* data, size_t length) {
  return file.Write(data, length) == length;
}

// Writes one table's header and records into `file`, which is open at its
// start, and cuts the file to their length.
bool WriteTable(SnapshotStore& store, platform::File& file,
                const char* table_name) {
  char name_field[kTableNameSize] = {};
  std::strncpy(name_field, table_name, kTableNameSize - 1);
  int32_t count = 0;
  int32_t size = 0;
  void* first = nullptr;
  if (!WriteAll(file, kMagic, kMagicSize) ||
      !WriteAll(file, name_field, kTableNameSize) ||
      !store.GetTableForSave(table_name, &count, &size, &first)) {
    return false;
  }
  // A count outside the table (a counter gone wrong) must not make the write
  // read past it; the header then still says what was written.
  const TableInfo* table = FindTable(table_name);
  if (count < 0) count = 0;
  if (count > table->format.capacity) count = table->format.capacity;
  if (!WriteAll(file, &count, sizeof count) ||
      !WriteAll(file, &size, sizeof size)) {
    return false;
  }
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size);
  if (bytes > 0 && !WriteAll(file, first, bytes)) return false;
  return file.Truncate(kHeaderSize + bytes);
}

// Opens the temporary file of `table` for a new save: for a table that reuses
// space, the file the save before last replaced becomes the temporary.
//
// A crash between a save's link and its rename leaves ".prev" as a second name
// of the live file; writing over it would change the live file before the new
// set is complete. Its space is reused only when it is provably a file of its
// own; otherwise the name is dropped and a fresh temporary started.
platform::File OpenTemporary(const std::string& directory,
                             const TableInfo& table) {
  const std::string live = directory + table.format.file_name;
  const std::string temporary = live + kTemporarySuffix;
  if (table.reuses_space) {
    const std::string previous = live + kPreviousSuffix;
    if (platform::LinkCount(previous) == 1 &&
        !platform::SameFile(previous, live) &&
        platform::RenameFile(previous, temporary)) {
      return platform::File::OpenForOverwrite(temporary);
    }
    (void)platform::RemoveFile(previous);
  }
  // A leftover temporary that is a second name of the live file is unlinked,
  // never truncated.
  if (platform::SameFile(temporary, live))
    (void)platform::RemoveFile(temporary);
  return platform::File::CreateForWrite(temporary);
}

}  // namespace

std::string SnapshotDirectoryPath() {
  const char* configured = std::getenv("RONDEL_SNAPSHOT_DIR");
  if (configured != nullptr && configured[0] != '\0') {
    std::string path = configured;
    if (path.back() != '/') path += '/';
    return path;
  }
  // ExecutableDirectory ends in '/', or is empty when unknown (then the
  // working directory).
  return platform::ExecutableDirectory() + snapshot::kDirectoryName;
}

bool SnapshotStore::PrepareDirectory() {
  DirectoryPath = SnapshotDirectoryPath();
  platform::MakeDirectory(DirectoryPath);
  return true;
}

bool SnapshotStore::FileExists(const std::string& full_name) {
  return platform::FileReadable(full_name);
}

bool SnapshotStore::GetTableForSave(const char* table_name,
                                    int32_t* record_count, int32_t* record_size,
                                    void** first_record) {
  const TableInfo* table = FindTable(table_name);
  if (table == nullptr) return false;
  *record_count = table->save_count();
  *record_size = table->format.record_size;
  *first_record = table->first_record();
  return true;
}

bool SnapshotStore::GetTableForLoad(const char* table_name,
                                    int32_t record_count, int32_t record_size,
                                    void** first_record) {
  const TableInfo* table = FindTable(table_name);
  if (table == nullptr) return false;
  if (!snapshot::RecordShapeFault(snapshot::FindTable(table_name), record_count,
                                  record_size)
           .empty()) {
    return false;
  }
  void* first = table->first_record();
  std::memset(
      first, 0,
      static_cast<size_t>(record_count) * static_cast<size_t>(record_size));
  *first_record = first;
  return true;
}

bool SnapshotStore::SaveTable(const char* file_name, const char* table_name) {
  if (file_name == nullptr || FindTable(table_name) == nullptr) return false;
  try {
    platform::File file =
        platform::File::CreateForWrite(DirectoryPath + file_name);
    return file.valid() && WriteTable(*this, file, table_name);
  } catch (...) {
    return false;  // the file, if open, was closed on the way out
  }
}

bool SnapshotStore::LoadTable(const char* file_name, const char* table_name) {
  if (file_name == nullptr || table_name == nullptr) return false;
  try {
    return ReadTableFile(file_name, table_name);
  } catch (...) {
    return false;
  }
}

bool SnapshotStore::ReadTableFile(const char* file_name,
                                  const char* table_name) {
  const snapshot::Table k = snapshot::FindTable(table_name);
  if (k == kTableCount) return false;
  last_load_ = snapshot::CheckTableFile(
      DirectoryPath + file_name, k, [&](int32_t count) -> void* {
        void* first = nullptr;
        if (!GetTableForLoad(table_name, count, kTables[k].format.record_size,
                             &first)) {
          return nullptr;
        }
        // The zeroing and the read may touch every record up to count.
        if (k == snapshot::kMedias) NoteMediasWritten(count);
        return first;
      });
  if (last_load_.fault == snapshot::TableFault::kCounterOutOfRange) {
    std::memset(&g_catalogue.table_records, 0, sizeof(TableRecords));
  }
  if (!last_load_.ok) return false;
  loaded_records_[k] = last_load_.record_count;
  return true;
}

bool SnapshotStore::SaveAllTables() {
  try {
    return SaveAllTablesReplacing();
  } catch (...) {
    return false;
  }
}

bool SnapshotStore::StageTable(const char* table_name) {
  DiscardStaged();
  const TableInfo* table = FindTable(table_name);
  if (table == nullptr) return false;
  try {
    PrepareDirectory();
    platform::File file = OpenTemporary(DirectoryPath, *table);
    if (!file.valid() || !WriteTable(*this, file, table_name)) {
      platform::RemoveFile(DirectoryPath + table->format.file_name +
                           kTemporarySuffix);
      return false;
    }
    file.StartSync();
    staged_file_ = std::move(file);
    staged_table_ = table->format.table_name;
    return true;
  } catch (...) {
    DiscardStaged();
    return false;
  }
}

void SnapshotStore::DiscardStaged() {
  if (staged_table_ == nullptr) return;
  staged_file_.Close();
  platform::RemoveFile(DirectoryPath +
                       FindTable(staged_table_)->format.file_name +
                       kTemporarySuffix);
  staged_table_ = nullptr;
}

bool SnapshotStore::SaveAllTablesReplacing() {
  const std::string staged_directory = DirectoryPath;
  PrepareDirectory();
  if (staged_table_ != nullptr && DirectoryPath != staged_directory) {
    // The directory moved since the table was staged: write it again.
    staged_file_.Close();
    platform::RemoveFile(staged_directory +
                         FindTable(staged_table_)->format.file_name +
                         kTemporarySuffix);
    staged_table_ = nullptr;
  }
  // Every table is first written and flushed under a temporary name; only a
  // complete set replaces the previous one, so a crash or a failed write
  // mid-save leaves the last good set whole.
  bool ok = true;
  for (const TableInfo& table : kTables) {
    if (staged_table_ == table.format.table_name) {
      ok = staged_file_.Sync();
      staged_file_.Close();
    } else {
      platform::File file = OpenTemporary(DirectoryPath, table);
      ok = file.valid() && WriteTable(*this, file, table.format.table_name) &&
           file.Sync();
    }
    if (!ok) break;
  }
  staged_table_ = nullptr;
  if (!ok) {
    // Remove every temporary, including the one whose write failed.
    for (const TableInfo& table : kTables) {
      platform::RemoveFile(DirectoryPath + table.format.file_name +
                           kTemporarySuffix);
    }
    return false;
  }
  for (const TableInfo& table : kTables) {
    const std::string target = DirectoryPath + table.format.file_name;
    if (table.reuses_space) {
      // The replaced file lives on under a second name, for the next save to
      // write over; failing that it is simply freed by the rename.
      platform::RemoveFile(target + kPreviousSuffix);
      (void)platform::LinkFile(target, target + kPreviousSuffix);
    }
    if (!platform::RenameFile(target + kTemporarySuffix, target)) ok = false;
  }
  platform::SyncDirectory(DirectoryPath);
  return ok;
}

bool SnapshotStore::LoadAllTables() {
  for (int32_t& count : loaded_records_) count = 0;
  last_load_ = snapshot::TableCheck();
  try {
    PrepareDirectory();
  } catch (...) {
    return false;
  }
  bool ok = true;
  for (const TableInfo& table : kTables) {
    if (!LoadTable(table.format.file_name, table.format.table_name)) {
      ok = false;
      break;
    }
  }
  ClampCountersToLoadedRecords();
  return ok;
}

void SnapshotStore::ClampCountersToLoadedRecords() {
  // A set mixed by a crash, or a damaged table file, may count more records
  // than its table brought: the zeroed rest must not be served as media id 0
  // or as a room at "". A smaller counter still decides.
  g_catalogue.table_records =
      snapshot::CountersServed(g_catalogue.table_records, loaded_records_);
}

}  // namespace rondel
