// Shared pieces of the snapshot-store tests: a catalogue filled with
// recognisable values, the nine file names in order, and the loaded span of
// each table as bytes.
#ifndef RONDEL_TESTS_SUPPORT_SNAPSHOT_FILES_H_
#define RONDEL_TESTS_SUPPORT_SNAPSHOT_FILES_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/snapshot_commit.h"
#include "catalogue/snapshot_format.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"

namespace rondel {
namespace testing {

using SnapshotTable = snapshot::TableFormat;
constexpr const SnapshotTable (&kSnapshotTables)[9] = snapshot::kTables;

// Where table `k` lies in memory and how many bytes of it the tests look at.
inline void TableSpan(int k, unsigned char** data, size_t* size) {
  Catalogue& c = g_catalogue;
  switch (k) {
    case 0:
      *data = reinterpret_cast<unsigned char*>(&c.table_records);
      *size = 28;
      return;
    case 1:
      *data = reinterpret_cast<unsigned char*>(c.rooms);
      *size = sizeof(RoomRecord) * 8;
      return;
    case 2:
      *data = reinterpret_cast<unsigned char*>(c.medias);
      *size = sizeof(MediaRecord) * 8;
      return;
    case 3:
      *data = reinterpret_cast<unsigned char*>(c.file_servers);
      *size = sizeof c.file_servers;
      return;
    case 4:
      *data = reinterpret_cast<unsigned char*>(c.all_sequence.entries);
      *size = 40;
      return;
    case 5:
      *data = reinterpret_cast<unsigned char*>(c.month_sequence.entries);
      *size = 40;
      return;
    case 6:
      *data = reinterpret_cast<unsigned char*>(c.week_sequence.entries);
      *size = 40;
      return;
    case 7:
      *data = reinterpret_cast<unsigned char*>(c.new_sequence.entries);
      *size = 40;
      return;
    default:
      *data = reinterpret_cast<unsigned char*>(c.user_sequence.entries);
      *size = 40;
      return;
  }
}

inline std::string TableBytes(int k) {
  unsigned char* data;
  size_t size;
  TableSpan(k, &data, &size);
  return std::string(reinterpret_cast<char*>(data), size);
}

// Fills the looked-at span of every table with 0x5A bytes, so a test can tell
// which tables a load touched.
inline void PaintTables() {
  for (int k = 0; k < 9; ++k) {
    unsigned char* data;
    size_t size;
    TableSpan(k, &data, &size);
    std::memset(data, 0x5A, size);
  }
  NoteMediasWritten(8);
}

inline void ClearPlayLists() {
  Catalogue& c = g_catalogue;
  std::memset(&c.all_sequence, 0, sizeof c.all_sequence);
  std::memset(&c.month_sequence, 0, sizeof c.month_sequence);
  std::memset(&c.week_sequence, 0, sizeof c.week_sequence);
  std::memset(&c.new_sequence, 0, sizeof c.new_sequence);
  std::memset(&c.user_sequence, 0, sizeof c.user_sequence);
}

// A catalogue whose every value depends on `seed`: 3 rooms, 5 media, 2 file
// servers, play lists of 3, 0, 2, 1 and 4 entries (the month list empty).
inline void FillCatalogue(int32_t seed) {
  ResetCatalogue();
  ClearPlayLists();
  Catalogue& c = g_catalogue;
  for (int i = 0; i < 3; ++i) {
    AddRoom(seed + i, "info" + std::to_string(seed + i),
            "10.0." + std::to_string(i) + ".1", 600 + i, -1);
  }
  for (int i = 0; i < 5; ++i) {
    MediaRecord& m =
        AddMedia(seed * 10 + i, 1 + i % 3, "media" + std::to_string(i),
                 {"/v/" + std::to_string(seed) + "/a" + std::to_string(i),
                  "/v/b" + std::to_string(i)});
    CopyText(m.MediaCode, sizeof m.MediaCode, std::to_string(10000 + i));
    CopyText(m.TextA, sizeof m.TextA, "singer");
    CopyText(m.TextB, sizeof m.TextB, "lang");
    m.NumberA = seed + 1;
    m.NumberB = seed + 2;
    m.NumberC = seed + 3;
    m.GroupId = 4;
  }
  AddFileServer(seed + 1, "10.0.9.1", 4, 33, 55);
  AddFileServer(seed + 2, "10.0.9.2", 5, 34, 56);
  const int32_t lengths[5] = {3, 0, 2, 1, 4};
  PlayList<kSequenceCapacity>* lists[4] = {&c.all_sequence, &c.month_sequence,
                                           &c.week_sequence, &c.new_sequence};
  for (int l = 0; l < 4; ++l) {
    for (int i = 0; i < lengths[l]; ++i)
      lists[l]->entries[i] = seed * 100 + l * 10 + i;
    lists[l]->count = lengths[l];
  }
  for (int i = 0; i < lengths[4]; ++i)
    c.user_sequence.entries[i] = seed * 1000 + i;
  c.user_sequence.count = lengths[4];
}

// Bytes of each table that FillCatalogue puts in use (and a save writes), in
// load order.
constexpr size_t kFilledBytes[9] = {28, 3 * 52, 5 * 942, 2 * 36, 3 * 4,
                                    0,  2 * 4,  1 * 4,   4 * 4};

// The nine files of a snapshot directory, in table order, as a load reads them
// (a committed replacement's new files where they are still beside the set).
inline std::vector<std::string> ReadSnapshotSet(const std::string& directory) {
  const std::string path = directory + "/";
  const bool committed = snapshot::ReplacementCommitted(path);
  std::vector<std::string> files;
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    files.push_back(ReadFileBytes(snapshot::ServedTablePath(
        path, static_cast<snapshot::Table>(k), committed)));
  }
  return files;
}

inline std::string NineFileListing() {
  std::vector<std::string> names;
  for (const SnapshotTable& t : kSnapshotTables) names.push_back(t.file_name);
  std::sort(names.begin(), names.end());
  std::string listing;
  for (const std::string& n : names) listing += n + "\n";
  return listing;
}

// The directory's names, sorted, one per line, without the replaced media
// file: it is kept for the next save to write over and is not part of the set.
inline std::string SortedListing(const std::string& directory) {
  std::istringstream names(ListDirectory(directory));
  std::string listing;
  for (std::string name; std::getline(names, name);) {
    if (name != "Medias.tbl.prev") listing += name + "\n";
  }
  return listing;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_SNAPSHOT_FILES_H_
