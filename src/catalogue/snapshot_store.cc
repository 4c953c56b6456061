// The snapshot store: where each table lies in memory, the per-table save and
// load, and the all-tables save that replaces the previous set as one, only
// once the new one is complete on disk.
//
// Here: the table map, then the save's helpers (names, new files), the
// per-table save and load, the staging of the media table, the two ways of
// putting a set in place (exchange, file by file), and the all-tables load.
//
// What a save keeps true:
//  1. The live nine files are never written: new contents go to new files
//     (in the sibling "VideoServertable.new/", or "X.tbl.new" beside the set
//     when there is no sibling), each flushed before anything is put in place.
//  2. Only a complete set is put in place. By exchange: the sibling holds the
//     nine flushed files and a second name of every other file of the live
//     directory, and is itself flushed, before the exchange; the parent is
//     flushed after it, so a crash leaves one whole set or the other. A
//     sibling on another mount than the snapshot directory (a mount point:
//     the exchange answers EBUSY, a link across answers EXDEV) is dropped and
//     the set written again beside the live files; on a volume that refuses
//     the second names (no hard links) the sibling's files are renamed beside
//     them; either way the set then goes in place file by file (7. to 10.).
//  3. A failure before the set is in place removes the new files and leaves
//     the live set as it was; false is answered only when the previous set is
//     what a load reads (or, per 10., a committed set could neither be
//     finished nor undone). It gives back the space it took: the sibling
//     directory and every new file go, and a media file the save opened for
//     writing (a new one, or the kept one it was reusing) is removed, never
//     kept as "Medias.tbl.prev", as it may have grown. One line in the log
//     names the step, the file and the system's error.
//  4. A file is written over only when it is provably not a name of a live
//     file (its only name, not the live file): the media file kept from the
//     last save ("Medias.tbl.prev", or the sibling's "Medias.tbl" a crashed
//     save left). Any other name in the way is dropped, never truncated, and
//     new files are created only where nothing is (O_EXCL).
//  5. Nothing but the store's own names is ever removed from the snapshot
//     directory; other files (the play outbox) follow the set into the new
//     directory. REQUIRES (of start-up): no outbox activity during a save,
//     which runs before any export is called.
// And a load:
//  6. Nothing of a table whose load failed is served: its span is zeroed, and
//     no counter exceeds the records its table brought.
// File by file (always on Windows), the set is replaced under a commit record
// (snapshot_commit.h says what a reader makes of it), and uses no hard link:
//  7. The record "Tables.commit" is written and flushed, with the directory,
//     only after the nine "X.tbl.new" are flushed and before any live name is
//     touched. Before it is durable the live set is as it was and the new
//     files are leftovers; a torn record is no record.
//  8. While the record is there the set is the new one: "X.tbl.new" where it
//     exists, else "X.tbl". Each table's two renames ("X.tbl" to
//     "X.tbl.prev", then "X.tbl.new" to "X.tbl") keep that view, so a kill or
//     a power cut between any two leaves the new set whole for the next load.
//     The record goes only after the directory holding the last rename is
//     flushed (on Windows each rename writes through).
//  9. A load that finds the record reads that view, then finishes the renames
//     and removes the record (best effort); a save first finishes an earlier
//     replacement so committed, and fails when it cannot (its new files would
//     otherwise become part of the view while being written).
// 10. A rename that fails after the record (another program holding a live
//     file) is undone in an order that keeps 8.'s view, and the record goes
//     last: the previous set stands with nothing of the save beside it. When
//     even that fails, the record stays and accounts for every file left; the
//     new set is what loads read.
#include "catalogue/snapshot_store.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/snapshot_check.h"
#include "catalogue/snapshot_commit.h"
#include "catalogue/snapshot_format.h"
#include "catalogue/snapshot_store_test_hooks.h"
#include "catalogue/tables.h"
#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/message_log.h"
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
// The sibling directory a new set is written into: "VideoServertable.new".
constexpr char kStagingSuffix[] = ".new";

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

void (*g_replacement_step_hook)(int step) = nullptr;

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

using platform::FileError;

bool WriteAll(platform::File& file, const void* data, size_t length) {
  return file.Write(data, length) == length;
}

// Writes one table's header and records into `file` (open at its start, named
// `path`), and cuts the file to their length.
FileError WriteTable(SnapshotStore& store, platform::File& file,
                     const char* table_name, const std::string& path) {
  char name_field[kTableNameSize] = {};
  std::strncpy(name_field, table_name, kTableNameSize - 1);
  int32_t count = 0;
  int32_t size = 0;
  void* first = nullptr;
  if (!WriteAll(file, kMagic, kMagicSize) ||
      !WriteAll(file, name_field, kTableNameSize)) {
    return FileError::Now("write", path);
  }
  if (!store.GetTableForSave(table_name, &count, &size, &first)) {
    return FileError::Of("write", path, EINVAL);
  }
  // A count outside the table (a counter gone wrong) must not make the write
  // read past it; the header then still says what was written.
  const TableInfo* table = FindTable(table_name);
  if (count < 0) count = 0;
  if (count > table->format.capacity) count = table->format.capacity;
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size);
  if (!WriteAll(file, &count, sizeof count) ||
      !WriteAll(file, &size, sizeof size) ||
      (bytes > 0 && !WriteAll(file, first, bytes))) {
    return FileError::Now("write", path);
  }
  if (!file.Truncate(kHeaderSize + bytes)) {
    return FileError::Now("truncate", path);
  }
  return FileError();
}

// True for the names the store keeps in a snapshot directory: the nine files,
// their temporaries and their previous versions. Every other file there (the
// play outbox) belongs to someone else and follows the set when the directory
// is exchanged.
bool IsStoreName(const std::string& name) {
  for (const TableInfo& table : kTables) {
    const std::string file = table.format.file_name;
    if (name == file || name == file + kTemporarySuffix ||
        name == file + kPreviousSuffix) {
      return true;
    }
  }
  return name == snapshot::kCommitFileName;
}

// True when `path` may be written over: its only name, and not the live file.
// A crash between a link and a rename can leave a second name of a live file
// behind; writing over that would change the live set.
bool OwnFile(const std::string& path, const std::string& live) {
  return platform::LinkCount(path) == 1 && !platform::SameFile(path, live);
}

// True when the sibling directory's names cannot move into the snapshot
// directory: a snapshot directory that is a mount point refuses the exchange
// (EBUSY), and names on two mounts of one file system are neither renamed nor
// linked across (EXDEV), so the sibling's files could not be renamed into
// place one by one either.
bool SiblingOnAnotherMount(int error_number) {
  return error_number == EBUSY || error_number == EXDEV;
}

// True when the save's one use of hard links (the other files of the
// directory given a second name in the sibling) met a volume that has none
// (FAT32, exFAT, many network shares; Windows says "not supported" or
// "access denied"): the file-by-file way needs none.
bool LinksRefused(const FileError& error) {
  return error.step == "link" &&
         (error.error_number == EPERM || error.error_number == EACCES ||
          error.error_number == EOPNOTSUPP || error.error_number == ENOTSUP ||
          error.error_number == ENOSYS);
}

// Drops a name, never its file's contents; a name already gone is fine.
bool DropName(const std::string& path) {
  return platform::RemoveFile(path) || errno == ENOENT;
}

}  // namespace

void SetReplacementStepHook(void (*hook)(int step)) {
  g_replacement_step_hook = hook;
}

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
  if (DirectoryPath == snapshot::kDirectoryName) {
    // The host program's path could not be read: the set lands wherever the
    // working directory is (a service's is the system directory).
    platform::MessageLog().AddLog(
        ("snapshot directory: the host program's path cannot be read; the "
         "snapshot files go to \"" +
         DirectoryPath + "\" in the working directory")
            .c_str());
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
  *record_size = table->format.record_size;
  *first_record = table->first_record();
  return true;
}

bool SnapshotStore::GetTableForLoad(const char* table_name,
                                    int32_t record_count, int32_t record_size,
                                    void** first_record) {
  if (!TableForRecords(table_name, record_count, record_size, first_record)) {
    return false;
  }
  std::memset(
      *first_record, 0,
      static_cast<size_t>(record_count) * static_cast<size_t>(record_size));
  return true;
}

bool SnapshotStore::TableForRecords(const char* table_name,
                                    int32_t record_count, int32_t record_size,
                                    void** first_record) {
  const TableInfo* table = FindTable(table_name);
  if (table == nullptr) return false;
  if (!snapshot::RecordShapeFault(snapshot::FindTable(table_name), record_count,
                                  record_size)
           .empty()) {
    return false;
  }
  *first_record = table->first_record();
  return true;
}

bool SnapshotStore::SaveTable(const char* file_name, const char* table_name) {
  if (file_name == nullptr || FindTable(table_name) == nullptr) return false;
  try {
    const std::string path = DirectoryPath + file_name;
    platform::File file = platform::File::CreateForWrite(path);
    return file.valid() && WriteTable(*this, file, table_name, path).ok();
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
        // Not zeroed first: the read fills every byte up to count, or zeroes
        // them all when it falls short, so the records end as GetTableForLoad
        // and a read would leave them, without a second pass over 94 MB.
        void* first = nullptr;
        if (!TableForRecords(table_name, count, kTables[k].format.record_size,
                             &first)) {
          return nullptr;
        }
        // The read may touch every record up to count.
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
    last_save_ = SaveAllTablesReplacing();
  } catch (...) {
    last_save_ = FileError::Of("save", DirectoryPath, ENOMEM);
  }
  if (!last_save_.ok()) {
    // The log's settings are process-wide: any instance writes the module's.
    platform::MessageLog().AddLog(
        ("snapshot save: " + last_save_.ToString()).c_str());
  }
  return last_save_.ok();
}

void SnapshotStore::ChooseSaveWay() {
  way_ = SaveWay::kRename;
  wrote_media_ = false;
  live_ = platform::ResolvedPath(DirectoryPath);
  const size_t slash = live_.rfind('/');
  if (live_.empty() || live_ == "/" || slash == std::string::npos) return;
  parent_ = slash == 0 ? "/" : live_.substr(0, slash);
  staging_ = live_ + kStagingSuffix;
  // The sibling must be a directory of ours on the same file system, and the
  // live directory must hold nothing but files: a subdirectory or a link
  // there could not follow the set into the new directory.
  if (!platform::MakeDirectory(staging_)) return;
  std::vector<platform::DirectoryEntry> entries;
  bool usable = platform::SameDevice(live_, staging_) &&
                platform::ListDirectory(live_, &entries);
  for (const platform::DirectoryEntry& entry : entries) {
    usable = usable && entry.regular_file;
  }
  if (!usable || !ClearStaging()) {
    DismantleStaging(/*keep_media=*/true);
    return;
  }
  way_ = SaveWay::kExchange;
}

// Leaves in the sibling directory only a media file whose space the next set
// may reuse: the one a crashed save left there, else the replaced one the last
// save kept as "Medias.tbl.prev" beside the live set.
bool SnapshotStore::ClearStaging() {
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(staging_, &entries)) return false;
  const TableInfo& medias = kTables[snapshot::kMedias];
  const std::string media_name = medias.format.file_name;
  const std::string live_media = live_ + "/" + media_name;
  const std::string previous = live_media + kPreviousSuffix;
  bool reusable = false;
  for (const platform::DirectoryEntry& entry : entries) {
    const std::string path = staging_ + "/" + entry.name;
    if (!entry.regular_file) return false;
    if (entry.name == media_name && OwnFile(path, live_media)) {
      reusable = true;
    } else if (!DropName(path)) {
      return false;
    }
  }
  if (!reusable && OwnFile(previous, live_media) &&
      platform::RenameFile(previous, staging_ + "/" + media_name)) {
    return true;
  }
  (void)DropName(previous);
  return true;
}

void SnapshotStore::DismantleStaging(bool keep_media) {
  const std::string media_name = kTables[snapshot::kMedias].format.file_name;
  const std::string media = staging_ + "/" + media_name;
  const std::string live_media = live_ + "/" + media_name;
  const std::string previous = live_media + kPreviousSuffix;
  if (keep_media && OwnFile(media, live_media) &&
      platform::LinkCount(previous) == 0) {
    (void)platform::RenameFile(media, previous);
  }
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(staging_, &entries)) return;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.regular_file) (void)DropName(staging_ + "/" + entry.name);
  }
  (void)platform::RemoveDirectory(staging_);
}

std::string SnapshotStore::NewFilePath(int k) const {
  const TableInfo& table = kTables[k];
  return way_ == SaveWay::kExchange
             ? staging_ + "/" + table.format.file_name
             : DirectoryPath + table.format.file_name + kTemporarySuffix;
}

FileError SnapshotStore::OpenNewFile(int k, platform::File* file) {
  const TableInfo& table = kTables[k];
  const std::string live = DirectoryPath + table.format.file_name;
  const std::string path = NewFilePath(k);
  if (table.reuses_space) {
    // From here on a failure must not keep the file as the next save's space:
    // what it holds may be larger than what it replaced.
    wrote_media_ = true;
    bool reused = false;
    if (way_ == SaveWay::kRename) {
      // The file the save before last replaced becomes the temporary.
      const std::string previous = live + kPreviousSuffix;
      reused = OwnFile(previous, live) && platform::RenameFile(previous, path);
      if (!reused) (void)DropName(previous);
    } else {
      reused = OwnFile(path, live);
    }
    if (reused) {
      *file = platform::File::OpenExistingForWrite(path);
      return file->valid() ? FileError() : FileError::Now("open", path);
    }
  }
  // Whatever holds the name now is dropped, never truncated: it may be a
  // second name of a live file.
  if (!DropName(path)) return FileError::Now("remove", path);
  *file = platform::File::CreateNewForWrite(path);
  return file->valid() ? FileError() : FileError::Now("create", path);
}

void SnapshotStore::DropNewFiles() {
  if (way_ == SaveWay::kExchange) {
    DismantleStaging(/*keep_media=*/!wrote_media_);
    return;
  }
  for (int k = 0; k < kTableCount; ++k) (void)DropName(NewFilePath(k));
}

bool SnapshotStore::StageTable(const char* table_name) {
  DiscardStaged();
  const TableInfo* table = FindTable(table_name);
  if (table == nullptr) return false;
  try {
    PrepareDirectory();
    if (!FinishReplacement().ok()) return false;
    ChooseSaveWay();
    const int k = static_cast<int>(table - kTables);
    platform::File file;
    FileError error = OpenNewFile(k, &file);
    if (error.ok()) error = WriteTable(*this, file, table_name, NewFilePath(k));
    if (!error.ok()) {
      file.Close();
      DropNewFiles();
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
  DropNewFiles();
  staged_table_ = nullptr;
}

FileError SnapshotStore::WriteNewSet() {
  for (int k = 0; k < kTableCount; ++k) {
    const TableInfo& table = kTables[k];
    const std::string path = NewFilePath(k);
    FileError error;
    if (staged_table_ == table.format.table_name) {
      if (!staged_file_.Sync()) error = FileError::Now("flush", path);
      staged_file_.Close();
    } else {
      platform::File file;
      error = OpenNewFile(k, &file);
      if (error.ok()) {
        error = WriteTable(*this, file, table.format.table_name, path);
      }
      if (error.ok() && !file.Sync()) error = FileError::Now("flush", path);
    }
    if (!error.ok()) return error;
  }
  return FileError();
}

FileError SnapshotStore::CarryOtherFilesOver() {
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(live_, &entries)) {
    return FileError::Now("list", live_);
  }
  for (const platform::DirectoryEntry& entry : entries) {
    if (IsStoreName(entry.name)) continue;
    const std::string path = live_ + "/" + entry.name;
    if (!entry.regular_file) return FileError::Of("link", path, EISDIR);
    if (!platform::LinkFile(path, staging_ + "/" + entry.name)) {
      return FileError::Now("link", path);
    }
  }
  return FileError();
}

void SnapshotStore::ReplacementStep() {
  ++replacement_steps_;
  if (g_replacement_step_hook != nullptr) {
    g_replacement_step_hook(replacement_steps_);
  }
}

FileError SnapshotStore::WriteCommitRecord() {
  const std::string path = DirectoryPath + snapshot::kCommitFileName;
  const std::string bytes = snapshot::CommitRecordBytes();
  if (!DropName(path)) return FileError::Now("remove", path);
  platform::File file = platform::File::CreateNewForWrite(path);
  if (!file.valid()) return FileError::Now("create", path);
  if (!WriteAll(file, bytes.data(), bytes.size())) {
    return FileError::Now("write", path);
  }
  if (!file.Sync()) return FileError::Now("flush", path);
  file.Close();
  if (!platform::SyncDirectory(DirectoryPath)) {
    return FileError::Now("flush", DirectoryPath);
  }
  return FileError();
}

FileError SnapshotStore::RemoveCommitRecord() {
  const std::string path = DirectoryPath + snapshot::kCommitFileName;
  // The renames reach the disk before the record leaves it (8.).
  if (!platform::SyncDirectory(DirectoryPath)) {
    return FileError::Now("flush", DirectoryPath);
  }
  ReplacementStep();
  if (!DropName(path)) return FileError::Now("remove", path);
  (void)platform::SyncDirectory(DirectoryPath);
  return FileError();
}

// 8.'s two renames for one table: the live file (if any) steps aside as
// "X.tbl.prev", then the new one takes its name.
FileError SnapshotStore::ReplaceOneFile(int k, bool* moved_aside,
                                        bool* renamed) {
  const std::string target = DirectoryPath + kTables[k].format.file_name;
  const std::string source = target + kTemporarySuffix;
  ReplacementStep();
  *moved_aside = platform::RenameFile(target, target + kPreviousSuffix);
  if (!*moved_aside && errno != ENOENT) return FileError::Now("rename", target);
  ReplacementStep();
  *renamed = platform::RenameFile(source, target);
  return *renamed ? FileError() : FileError::Now("rename", source);
}

void SnapshotStore::DropReplacedFiles() {
  for (int k = 0; k < kTableCount; ++k) {
    if (kTables[k].reuses_space) continue;  // the next save writes over it
    (void)DropName(DirectoryPath + kTables[k].format.file_name +
                   kPreviousSuffix);
  }
}

FileError SnapshotStore::ReplaceFileByFile() {
  replacement_steps_ = 0;
  // Nothing of a previous name may stand in for a replaced file (4., 7.).
  for (int k = 0; k < kTableCount; ++k) {
    if (kTables[k].reuses_space) continue;  // already the media temporary
    const std::string previous =
        DirectoryPath + kTables[k].format.file_name + kPreviousSuffix;
    if (!DropName(previous)) {
      FileError error = FileError::Now("remove", previous);
      DropNewFiles();
      return error;
    }
  }
  ReplacementStep();
  FileError error = WriteCommitRecord();
  if (!error.ok()) {
    // A record that cannot be removed may be read as valid: the new files
    // stay for the next load or save to finish putting in place.
    if (DropName(DirectoryPath + snapshot::kCommitFileName)) DropNewFiles();
    return error;
  }
  bool moved_aside[kTableCount] = {};
  bool renamed[kTableCount] = {};
  for (int k = 0; k < kTableCount && error.ok(); ++k) {
    error = ReplaceOneFile(k, &moved_aside[k], &renamed[k]);
  }
  if (error.ok()) {
    // Past the last rename the new set is whole under the live names; a
    // record left now would only be finished again by the next load.
    (void)RemoveCommitRecord();
    DropReplacedFiles();
    return FileError();
  }
  // Undone in the order that keeps the record's view on the new set at every
  // step: the new file goes back to "X.tbl.new", then the previous one to
  // "X.tbl"; only then does the record go.
  bool undone = true;
  for (int k = 0; k < kTableCount && undone; ++k) {
    const std::string target = DirectoryPath + kTables[k].format.file_name;
    if (renamed[k]) {
      undone = platform::RenameFile(target, target + kTemporarySuffix);
    }
    if (undone && moved_aside[k]) {
      undone = platform::RenameFile(target + kPreviousSuffix, target);
    }
  }
  if (undone && RemoveCommitRecord().ok()) {
    DropNewFiles();
    (void)platform::SyncDirectory(DirectoryPath);
  }
  // Else the record stays and loads read the new set until a load or the
  // next save finishes it.
  return error;
}

FileError SnapshotStore::FinishReplacement() {
  const std::string record = DirectoryPath + snapshot::kCommitFileName;
  if (platform::LinkCount(record) == 0) return FileError();
  if (!snapshot::ReplacementCommitted(DirectoryPath)) {
    // Torn by a crash while it was written: nothing was put in place after
    // it, and the new files it would have covered are dropped by the save.
    return DropName(record) ? FileError() : FileError::Now("remove", record);
  }
  replacement_steps_ = 0;
  for (int k = 0; k < kTableCount; ++k) {
    const std::string source =
        DirectoryPath + kTables[k].format.file_name + kTemporarySuffix;
    if (platform::LinkCount(source) == 0) continue;  // already in place
    bool moved_aside = false;
    bool renamed = false;
    FileError error = ReplaceOneFile(k, &moved_aside, &renamed);
    if (!error.ok()) return error;
  }
  FileError error = RemoveCommitRecord();
  if (error.ok()) DropReplacedFiles();
  return error;
}

FileError SnapshotStore::MoveNewSetBeside() {
  FileError error;
  for (int k = 0; k < kTableCount && error.ok(); ++k) {
    const std::string from = NewFilePath(k);
    const std::string to =
        DirectoryPath + kTables[k].format.file_name + kTemporarySuffix;
    if (!DropName(to)) {
      error = FileError::Now("remove", to);
    } else if (!platform::RenameFile(from, to)) {
      error = FileError::Now("rename", from);
    }
  }
  if (!error.ok()) DropNewFiles();  // what is left in the sibling
  way_ = SaveWay::kRename;
  if (!error.ok()) {
    DropNewFiles();  // what was moved beside the live set
    return error;
  }
  DismantleStaging(/*keep_media=*/false);  // the carried second names
  return FileError();
}

FileError SnapshotStore::WriteBesideTheLiveSet() {
  // The media file written there may have grown: it goes with the rest (3.).
  DismantleStaging(/*keep_media=*/!wrote_media_);
  way_ = SaveWay::kRename;
  return WriteNewSet();
}

FileError SnapshotStore::SaveAllTablesReplacing() {
  const std::string staged_directory = DirectoryPath;
  PrepareDirectory();
  if (staged_table_ != nullptr && DirectoryPath != staged_directory) {
    // The directory moved since the table was staged: write it again.
    const std::string moved = DirectoryPath;
    DirectoryPath = staged_directory;
    DiscardStaged();
    DirectoryPath = moved;
  }
  if (staged_table_ == nullptr) {
    FileError unfinished = FinishReplacement();
    if (!unfinished.ok()) return unfinished;
    ChooseSaveWay();
  }
  FileError error = WriteNewSet();
  staged_table_ = nullptr;
  if (error.ok() && way_ == SaveWay::kExchange) {
    error = CarryOtherFilesOver();
    if (LinksRefused(error)) {
      // The sibling is on this volume: its new files can be renamed beside
      // the live ones, with no second write of the set.
      platform::MessageLog().AddLog(
          ("snapshot save: \"" + live_ + "\" refuses hard links (" +
           platform::ErrorText(error.error_number) +
           "); the files are replaced one by one without them")
              .c_str());
      error = MoveNewSetBeside();
    } else if (SiblingOnAnotherMount(error.error_number)) {
      error = WriteBesideTheLiveSet();
    } else if (error.ok() && !platform::SyncDirectory(staging_)) {
      error = FileError::Now("flush", staging_);
    }
  }
  if (!error.ok()) {
    DropNewFiles();
    return error;
  }
  if (way_ == SaveWay::kExchange) {
    const int refusal = platform::ExchangePaths(staging_, live_);
    if (refusal == 0) {
      if (platform::SyncDirectory(parent_)) {
        DismantleStaging(/*keep_media=*/true);  // the replaced set
        return FileError();
      }
      // Not known to be on the disk: the previous set goes back in place,
      // unless even that fails and the new set is what loads read now.
      error = FileError::Now("flush", parent_);
      if (platform::ExchangePaths(staging_, live_) != 0) {
        DismantleStaging(/*keep_media=*/true);
        return FileError();
      }
      (void)platform::SyncDirectory(parent_);
      DropNewFiles();
      return error;
    }
    if (SiblingOnAnotherMount(refusal)) {
      error = WriteBesideTheLiveSet();
      if (!error.ok()) {
        DropNewFiles();
        return error;
      }
    } else if (!platform::ExchangeUnsupported(refusal)) {
      DropNewFiles();
      return FileError::Of("exchange", live_, refusal);
    }
  }
  if (way_ == SaveWay::kExchange) {
    error = MoveNewSetBeside();
    if (!error.ok()) return error;
  }
  return ReplaceFileByFile();
}

bool SnapshotStore::LoadAllTables() {
  for (int32_t& count : loaded_records_) count = 0;
  last_load_ = snapshot::TableCheck();
  try {
    PrepareDirectory();
  } catch (...) {
    return false;
  }
  bool committed = false;
  try {
    committed = snapshot::ReplacementCommitted(DirectoryPath);
  } catch (...) {
    return false;
  }
  bool ok = true;
  for (int k = 0; k < kTableCount; ++k) {
    const std::string path = snapshot::ServedTablePath(
        DirectoryPath, static_cast<snapshot::Table>(k), committed);
    if (!LoadTable(path.c_str() + DirectoryPath.size(),
                   kTables[k].format.table_name)) {
      ok = false;
      break;
    }
  }
  ClampCountersToLoadedRecords();
  if (committed) {
    try {
      (void)FinishReplacement();  // best effort: the next save finishes it too
    } catch (...) {
    }
  }
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
