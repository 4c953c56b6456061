// The snapshot store: table descriptions, the per-table save and load, and the
// all-tables save that replaces the previous set only once the new one is
// complete on disk.
#include "catalogue/snapshot_store.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "catalogue/tables.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace rondel {

namespace {

constexpr size_t kMagicSize = 8;
constexpr size_t kTableNameSize = 64;
constexpr size_t kHeaderSize = 80;
constexpr char kMagic[kMagicSize] = {'T', 'A', 'B', 'L', 'E', ':', 0, 0};
constexpr char kDirectoryName[] = "VideoServertable/";
constexpr char kTemporarySuffix[] = ".new";
constexpr char kPreviousSuffix[] = ".prev";

static_assert(kMagicSize + kTableNameSize + 4 + 4 == kHeaderSize,
              "snapshot header layout");

// One of the nine tables: where it lives, how big a record is, how many records
// a load may bring, and where the count a save writes is kept.
struct TableInfo {
  const char* table_name;
  const char* file_name;
  int32_t record_size;
  int32_t capacity;
  void* (*first_record)();
  int32_t (*save_count)();
  // Keeps the replaced file as "<file>.prev" and writes the next save over it:
  // freeing and allocating the space of a 94 MB file costs more than the rest
  // of a save.
  bool reuses_space = false;
};

Catalogue& C() { return g_catalogue; }

const TableInfo kTables[] = {
    {"TABLE_RECORDS", "TABLE_RECORDS.tbl", sizeof(TableRecords), 1,
     [] { return static_cast<void*>(&C().table_records); },
     [] { return int32_t{1}; }},
    {"Rooms", "Rooms.tbl", sizeof(RoomRecord), kRoomCapacity,
     [] { return static_cast<void*>(C().rooms); },
     [] { return C().table_records.RoomCount; }},
    {"Medias", "Medias.tbl", sizeof(MediaRecord), kMediaCapacity,
     [] { return static_cast<void*>(C().medias); },
     [] { return C().table_records.MediaCount; }, /*reuses_space=*/true},
    {"FILE_SERVERS", "FILE_SERVERS.tbl", sizeof(FileServerRecord),
     kFileServerCapacity, [] { return static_cast<void*>(C().file_servers); },
     [] { return C().table_records.FileServerCount; }},
    {"AllSequence", "AllSequence.tbl", sizeof(int32_t), kSequenceCapacity,
     [] { return static_cast<void*>(C().all_sequence.entries); },
     [] { return C().all_sequence.count; }},
    {"MonthSequence", "MonthSequence.tbl", sizeof(int32_t), kSequenceCapacity,
     [] { return static_cast<void*>(C().month_sequence.entries); },
     [] { return C().month_sequence.count; }},
    {"WeekSequence", "WeekSequence.tbl", sizeof(int32_t), kSequenceCapacity,
     [] { return static_cast<void*>(C().week_sequence.entries); },
     [] { return C().week_sequence.count; }},
    {"NewSequence", "NewSequence.tbl", sizeof(int32_t), kSequenceCapacity,
     [] { return static_cast<void*>(C().new_sequence.entries); },
     [] { return C().new_sequence.count; }},
    {"UserSequence", "UserSequence.tbl", sizeof(int32_t), kUserSequenceCapacity,
     [] { return static_cast<void*>(C().user_sequence.entries); },
     [] { return C().user_sequence.count; }},
};

const TableInfo* FindTable(const char* table_name) {
  if (table_name == nullptr || table_name[0] == '\0') return nullptr;
  for (const TableInfo& table : kTables) {
    if (std::strcmp(table.table_name, table_name) == 0) return &table;
  }
  return nullptr;
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
  if (count > table->capacity) count = table->capacity;
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
platform::File OpenTemporary(const std::string& directory,
                             const TableInfo& table) {
  const std::string temporary = directory + table.file_name + kTemporarySuffix;
  if (table.reuses_space) {
    (void)platform::RenameFile(directory + table.file_name + kPreviousSuffix,
                               temporary);
    return platform::File::OpenForOverwrite(temporary);
  }
  return platform::File::CreateForWrite(temporary);
}

}  // namespace

bool SnapshotStore::PrepareDirectory() {
  const char* configured = std::getenv("RONDEL_SNAPSHOT_DIR");
  if (configured != nullptr && configured[0] != '\0') {
    DirectoryPath = configured;
    if (DirectoryPath.back() != '/') DirectoryPath += '/';
  } else {
    // ExecutableDirectory ends in '/', or is empty when unknown (then the
    // working directory).
    DirectoryPath = platform::ExecutableDirectory() + kDirectoryName;
  }
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
  *record_size = table->record_size;
  *first_record = table->first_record();
  return true;
}

bool SnapshotStore::GetTableForLoad(const char* table_name,
                                    int32_t record_count, int32_t record_size,
                                    void** first_record) {
  const TableInfo* table = FindTable(table_name);
  if (table == nullptr) return false;
  if (record_size != table->record_size) return false;
  if (record_count < 0 || record_count > table->capacity) return false;
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
  const std::string full_name = DirectoryPath + file_name;
  if (!FileExists(full_name)) return false;
  platform::File file = platform::File::OpenForRead(full_name);
  if (!file.valid()) return false;

  // Both fields get one spare zero byte so that they compare as terminated
  // strings.
  char magic[kMagicSize + 1] = {};
  if (file.Read(magic, kMagicSize) != kMagicSize) return false;
  magic[kMagicSize - 1] = '\0';  // the eighth byte is not examined
  if (std::strcmp(magic, "TABLE:") != 0) return false;

  char name_field[kTableNameSize + 1] = {};
  if (file.Read(name_field, kTableNameSize) != kTableNameSize) return false;
  if (std::strcmp(name_field, table_name) != 0) return false;

  int32_t count = 0;
  int32_t size = 0;
  if (file.Read(&count, sizeof count) != sizeof count) return false;
  if (file.Read(&size, sizeof size) != sizeof size) return false;

  void* first = nullptr;
  if (!GetTableForLoad(table_name, count, size, &first)) return false;
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size);
  const bool is_medias = std::strcmp(table_name, "Medias") == 0;
  // The zeroing above and the read below may touch every record up to count.
  if (is_medias) NoteMediasWritten(count);
  if (bytes > 0 && file.Read(first, bytes) != bytes) return false;

  if (std::strcmp(table_name, "TABLE_RECORDS") == 0) {
    TableRecords& t = g_catalogue.table_records;
    if (t.MediaCount < 0 || t.MediaCount > kMediaCapacity || t.RoomCount < 0 ||
        t.RoomCount > kRoomCapacity || t.FileServerCount < 0 ||
        t.FileServerCount > kFileServerCapacity) {
      std::memset(&t, 0, sizeof t);
      return false;
    }
  }
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
      platform::RemoveFile(DirectoryPath + table->file_name + kTemporarySuffix);
      return false;
    }
    file.StartSync();
    staged_file_ = std::move(file);
    staged_table_ = table->table_name;
    return true;
  } catch (...) {
    DiscardStaged();
    return false;
  }
}

void SnapshotStore::DiscardStaged() {
  if (staged_table_ == nullptr) return;
  staged_file_.Close();
  platform::RemoveFile(DirectoryPath + FindTable(staged_table_)->file_name +
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
                         FindTable(staged_table_)->file_name +
                         kTemporarySuffix);
    staged_table_ = nullptr;
  }
  // Every table is first written and flushed under a temporary name; only a
  // complete set replaces the previous one, so a crash or a failed write
  // mid-save leaves the last good set whole.
  bool ok = true;
  for (const TableInfo& table : kTables) {
    if (staged_table_ == table.table_name) {
      ok = staged_file_.Sync();
      staged_file_.Close();
    } else {
      platform::File file = OpenTemporary(DirectoryPath, table);
      ok = file.valid() && WriteTable(*this, file, table.table_name) &&
           file.Sync();
    }
    if (!ok) break;
  }
  staged_table_ = nullptr;
  if (!ok) {
    // Remove every temporary, including the one whose write failed.
    for (const TableInfo& table : kTables) {
      platform::RemoveFile(DirectoryPath + table.file_name + kTemporarySuffix);
    }
    return false;
  }
  for (const TableInfo& table : kTables) {
    const std::string target = DirectoryPath + table.file_name;
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
  try {
    PrepareDirectory();
  } catch (...) {
    return false;
  }
  for (const TableInfo& table : kTables) {
    if (!LoadTable(table.file_name, table.table_name)) return false;
  }
  return true;
}

}  // namespace rondel
