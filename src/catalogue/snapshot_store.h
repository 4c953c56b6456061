// The snapshot store: the catalogue's nine tables saved and loaded.
//
// The nine tables as nine files on disk, in the format of snapshot_format.h.
//
// The files live in "VideoServertable/" in the directory of the host
// executable, or in $RONDEL_SNAPSHOT_DIR itself when that variable is set.
//
// A save never destroys the last good set, and replaces it as one: the nine
// new files are written and flushed into the sibling directory
// "VideoServertable.new/", every other file of the snapshot directory (the
// play outbox) is given a second name there, and the two directories are
// exchanged in one step (renameat2 with RENAME_EXCHANGE), then their parent
// is flushed. A crash at any moment leaves either the old set or the new one
// under the snapshot directory's name, never a mix. The sibling is removed
// after the save; the media file the save replaced stays as
// "Medias.tbl.prev" beside the set, and the next save writes over its space
// instead of freeing and allocating 94 MB again; loads never read it.
//
// Where the exchange cannot be made (a file system without it, a parent
// directory that takes no sibling, a snapshot directory that is a mount point
// or holds anything but files, a volume without hard links), and always on
// Windows, the set goes in place file by file under a commit record
// ("Tables.commit", snapshot_commit.h): the nine "X.tbl.new" are flushed, the
// record is written and flushed, then each live file steps aside as
// "X.tbl.prev" and the new one takes its name. While the record is there a
// load reads the new set ("X.tbl.new" where it is still there, else "X.tbl")
// and finishes the renames, so a kill or a power cut at any moment leaves the
// old set or the new one, whole; no hard link is needed. When the snapshot
// directory turns out to be a mount point only once the sibling is written
// (the exchange refused as busy, or a name refused across mounts), the
// sibling's files cannot be renamed into it: the new set is written again
// beside the live files and put in place file by file, and a failure names
// the step that failed there (a read-only mount:
//   snapshot save: remove "/srv/VideoServertable/TABLE_RECORDS.tbl.new":
//   Read-only file system).
//
// A save that fails leaves the previous set as it was and gives back the space
// it took (no sibling directory, no new file, no media file it wrote into;
// a rename refused after the commit, say because another program holds a
// live file, is undone),
// and writes one line to the module log naming the step, the file and the
// system's error:
//   snapshot save: write "/srv/VideoServertable.new/Medias.tbl": No space
//   left on device
// Loads log nothing: LastLoad says why one failed.
//
// Used only by the catalogue stage of start-up, on the thread of
// InitialDatabase, while no other code touches the tables or the files.
#ifndef RONDEL_CATALOGUE_SNAPSHOT_STORE_H_
#define RONDEL_CATALOGUE_SNAPSHOT_STORE_H_

#include <cstdint>
#include <string>

#include "catalogue/snapshot_check.h"
#include "catalogue/snapshot_format.h"
#include "platform/file.h"
#include "platform/file_error.h"

namespace rondel {

// The snapshot directory with its trailing '/': $RONDEL_SNAPSHOT_DIR when set,
// else "VideoServertable/" in the directory of the host executable (in the
// working directory when that is unknown). Composed anew at each call; the
// directory is not created. Other files kept beside the snapshots (the play
// outbox) take their place from here too.
std::string SnapshotDirectoryPath();

class SnapshotStore {
 public:
  SnapshotStore() = default;
  virtual ~SnapshotStore() = default;
  SnapshotStore(const SnapshotStore&) = delete;
  SnapshotStore& operator=(const SnapshotStore&) = delete;

  // PrepareDirectory, then writes the nine tables and puts them in place as
  // one. True when the new set is what a load reads; on false the files of the
  // previous save are what a load reads, byte for byte. (When the flush of the
  // parent after the exchange fails, the previous set is exchanged back and
  // the answer is false; true again only if even that fails. File by file, a
  // rename refused after the commit whose undoing fails too answers false
  // with the commit record left: loads then read the new set.) A false is
  // logged, with what LastSave says. A replacement committed by an earlier
  // save is finished first; when that fails, so does this save.
  bool SaveAllTables();

  // What the last SaveAllTables met: ok, or the step that failed, on which
  // file, with the system's error number.
  const platform::FileError& LastSave() const { return last_save_; }

  // PrepareDirectory, then loads the nine tables in order, stopping at the
  // first failure: the tables before it stay loaded, the failing one is left
  // zeroed as far as its header counted, later ones are untouched. Then the
  // media, room and file-server counters are lowered to the records their
  // tables actually brought (a larger stored counter would serve zeroed
  // records; a smaller one is kept). Medias records loaded are reported
  // through NoteMediasWritten. A commit record found in the directory makes
  // it read the set the record commits, and then finish putting that set in
  // place (best effort; the outcome does not change the answer).
  bool LoadAllTables();

  // Writes one table's new file now and starts flushing it to the disk in the
  // background; the next SaveAllTables finishes the flush and puts it in
  // place with the others instead of writing it again. Lets start-up save the
  // media table while the play lists are still loading. REQUIRES: the table
  // does not change before that SaveAllTables. False (nothing staged) on any
  // failure; the save then simply writes the table itself.
  bool StageTable(const char* table_name);
  // Drops a staged table and its new file (a load that failed after it); the
  // sibling directory goes too.
  void DiscardStaged();

  // Writes one table to DirectoryPath + file_name, in place (no temporary
  // name). False when the file cannot be created or a write comes up short, or
  // for an unknown table name; a partly written file then stays on disk.
  bool SaveTable(const char* file_name, const char* table_name);

  // Reads one table from DirectoryPath + file_name, checking magic, table name,
  // record size and record count (before any memory is touched), then the bytes
  // of the records; when they come up short, the zeroed span is zeroed again
  // (no half-read record stays). For TABLE_RECORDS, stored media, room or
  // file-server counts beyond their tables clear all seven counters and fail
  // the load. Extra bytes after the records are ignored. The checks are those
  // of snapshot_check.h; LastLoad says how the file fared.
  bool LoadTable(const char* file_name, const char* table_name);

  // The outcome of the last table file a load read: on a failed LoadAllTables,
  // what failed and why ("Rooms.tbl: 100 bytes of records, 156 expected").
  const snapshot::TableCheck& LastLoad() const { return last_load_; }

  // Composes DirectoryPath (with its trailing '/') and creates the directory.
  // Always true.
  bool PrepareDirectory();

  // True when `full_name` can be opened for reading.
  bool FileExists(const std::string& full_name);

  // The count a save writes, the record size and the table's first record, for
  // one of the nine table names (compared exactly). False for a null or empty
  // name or any other name.
  bool GetTableForSave(const char* table_name, int32_t* record_count,
                       int32_t* record_size, void** first_record);

  // Checks a header's count and size against the table (size equal to the
  // table's record size, 0 <= count <= capacity); when they pass, zeroes the
  // first count * size bytes of the table and gives its first record. False
  // (nothing touched) for an unknown name or values that fail the checks.
  bool GetTableForLoad(const char* table_name, int32_t record_count,
                       int32_t record_size, void** first_record);

  // The snapshot directory with its trailing '/', as PrepareDirectory last
  // composed it.
  std::string DirectoryPath;

 private:
  // How a save puts its new set in place: by exchanging directories, or file
  // by file where that cannot be done.
  enum class SaveWay { kExchange, kRename };

  bool ReadTableFile(const char* file_name, const char* table_name);
  // GetTableForLoad's checks without its zeroing: the table's first record
  // when the count and size pass.
  bool TableForRecords(const char* table_name, int32_t record_count,
                       int32_t record_size, void** first_record);
  platform::FileError SaveAllTablesReplacing();
  void ClampCountersToLoadedRecords();
  // The save's steps, in snapshot_store.cc's order.
  void ChooseSaveWay();
  bool ClearStaging();
  // Removes the sibling directory and what is in it; its media file becomes
  // "Medias.tbl.prev" when `keep_media` and no such file is there.
  void DismantleStaging(bool keep_media);
  std::string NewFilePath(int table) const;
  platform::FileError OpenNewFile(int table, platform::File* file);
  // After a failure: removes every new file (and the sibling directory).
  void DropNewFiles();
  platform::FileError WriteNewSet();
  platform::FileError CarryOtherFilesOver();
  platform::FileError ReplaceFileByFile();
  // Counts a step of a file-by-file replacement and calls the test hook
  // (snapshot_store_test_hooks.h).
  void ReplacementStep();
  platform::FileError WriteCommitRecord();
  // Flushes the directory, then removes the commit record.
  platform::FileError RemoveCommitRecord();
  platform::FileError ReplaceOneFile(int table, bool* moved_aside,
                                     bool* renamed);
  // Removes the replaced files but the media file kept for its space.
  void DropReplacedFiles();
  // Puts in place the rest of a replacement whose commit record is found,
  // then removes the record; removes a torn record. Ok when no record is left.
  platform::FileError FinishReplacement();
  // Where the sibling cannot be put in place: drops it and writes the new set
  // again beside the live files, to be put in place file by file.
  platform::FileError WriteBesideTheLiveSet();
  // Where the exchange is refused once the sibling is written: its nine files
  // become the "X.tbl.new" beside the live set, and the sibling goes.
  platform::FileError MoveNewSetBeside();

  // Records each table brought in the current LoadAllTables (0 for a table
  // that failed or was not reached), in the order of the nine tables.
  int32_t loaded_records_[snapshot::kTableCount] = {};
  snapshot::TableCheck last_load_;
  platform::FileError last_save_;

  const char* staged_table_ = nullptr;  // one of the nine names, or null
  platform::File staged_file_;

  // Chosen by the first StageTable or SaveAllTables of a save.
  SaveWay way_ = SaveWay::kRename;
  // The current save (or its staging) has opened the media file for writing:
  // a failure then removes it instead of keeping it for the next save.
  bool wrote_media_ = false;
  std::string live_;     // the snapshot directory, links resolved, no '/'
  std::string staging_;  // live_ + ".new": where the new set is written
  std::string parent_;   // the directory holding both
  int replacement_steps_ = 0;
};

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_SNAPSHOT_STORE_H_
