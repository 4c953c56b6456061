// The inspector's view of a snapshot set: the nine files read through the
// loader's own checks (catalogue/snapshot_check.h) into buffers of the tool's,
// the record fields as catalogue/tables.h lays them out, and texts made
// displayable (code page 936 converted to UTF-8, JSON escapes).
#ifndef RONDEL_TOOLS_SNAPSHOT_VIEW_H_
#define RONDEL_TOOLS_SNAPSHOT_VIEW_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/snapshot_check.h"
#include "catalogue/snapshot_format.h"
#include "catalogue/tables.h"
#include "text_view.h"

namespace rondel {
namespace tools {

// One table file as the loader's checks read it.
struct TableFile {
  snapshot::TableCheck check;
  // The records read: RecordCount records when the file passed (or failed
  // only on TABLE_RECORDS's stored counters), else none.
  std::vector<char> records;
  int32_t record_size = 0;

  int32_t count() const {
    return record_size == 0
               ? 0
               : static_cast<int32_t>(records.size() /
                                      static_cast<size_t>(record_size));
  }
  const char* record(int32_t i) const {
    return records.data() + static_cast<size_t>(i) * record_size;
  }
  // Record i copied out (records are packed and may lie misaligned).
  template <typename Record>
  Record Get(int32_t i) const {
    Record r;
    std::memcpy(&r, record(i), sizeof r);
    return r;
  }
};

struct SnapshotSet {
  TableFile tables[snapshot::kTableCount];

  // True when the library loads all nine files as they stand.
  bool Loads() const;
  // The first file the library would stop at, or kTableCount.
  snapshot::Table FirstFailure() const;
  // TABLE_RECORDS's counters as stored; zero when its record was not read.
  TableRecords StoredCounters() const;
  // The records in use: MediaCount, RoomCount and FileServerCount lowered to
  // the records their files hold, as a load lowers them (file by file: a set
  // that does not load still shows what each file holds).
  TableRecords CountersInUse() const;
  // The records of a table the library serves: the first RoomCount rooms,
  // MediaCount media and FileServerCount file servers in use, every entry of a
  // play list.
  int32_t InUse(snapshot::Table table) const;
  std::vector<MediaRecord> Medias() const;
  std::vector<RoomRecord> Rooms() const;
  std::vector<FileServerRecord> FileServers() const;
  std::vector<int32_t> Entries(snapshot::Table play_list) const;
};

// Reads the nine files of `directory` (a trailing '/' optional). Never
// creates or writes anything.
SnapshotSet ReadSnapshotSet(const std::string& directory);
// Reads one table's file of `directory`.
TableFile ReadSnapshotTable(const std::string& directory,
                            snapshot::Table table);

// A play list's length as background play counts an uncounted list: its
// leading non-zero entries.
int32_t PlayedLength(const std::vector<int32_t>& entries);

// A record field, as tables.h lays it out.
enum class FieldKind { kInt32, kText, kFileList };
struct FieldFormat {
  const char* name;
  size_t offset;
  size_t size;
  FieldKind kind;
};
// The fields of one table's records, in record order (a play list's record is
// one MediaId).
const std::vector<FieldFormat>& RecordFields(snapshot::Table table);

int32_t FieldInt(const char* record, const FieldFormat& field);
// The text's bytes up to its terminator, or the whole field without one (as
// FieldText of text_view.h for a bare field).
std::string FieldText(const char* record, const FieldFormat& field);
// The paths of a FileList up to its empty text; *terminated tells whether
// that empty text was found inside the field (else the last path runs to the
// field's end).
std::vector<std::string> FileListPaths(const char* field, size_t size,
                                       bool* terminated);

// Code page 936 (GB18030) bytes as UTF-8; a byte that does not convert (a
// text cut inside a two-byte character) becomes U+FFFD and the rest still
// converts.
std::string ConvertText(const std::string& bytes);
// Code page 936 bytes as UTF-8 that keeps every byte: a byte that does not
// convert and a control byte show as \xNN, a backslash as \\.
std::string EscapedText(const std::string& bytes);
// For a terminal: converted (or raw) text with control bytes as \xNN.
std::string TerminalText(const std::string& bytes, bool raw);
// Rows of cells as columns aligned for a terminal (CJK characters two columns
// wide), two spaces apart; the first row is the header.
void PrintAligned(const std::vector<std::vector<std::string>>& rows,
                  std::ostream& out);
// One CSV field, quoted as RFC 4180 asks when it holds a comma, a quote or a
// line break.
std::string CsvField(const std::string& text);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);
// A JSON string literal of raw bytes, each byte one code point (bytes of 0x80
// and above as \u0080..\u00ff), so a reader recovers them exactly.
std::string JsonBytes(const std::string& bytes);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_SNAPSHOT_VIEW_H_
