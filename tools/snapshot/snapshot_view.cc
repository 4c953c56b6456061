#include "snapshot_view.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "catalogue/snapshot_commit.h"
#include "text_view.h"

namespace rondel {
namespace tools {

namespace {

using snapshot::kTableCount;
using snapshot::Table;

// The largest record, so that TABLE_RECORDS's counter check always has a
// record to read even when a file holds none.
constexpr size_t kSpareBytes = sizeof(MediaRecord);

}  // namespace

TableFile ReadSnapshotTable(const std::string& directory, Table table) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') path += '/';
  TableFile file;
  file.record_size = snapshot::kTables[table].record_size;
  std::vector<char> buffer;
  // A replacement interrupted after its commit is read as a load reads it.
  file.check = snapshot::CheckTableFile(
      snapshot::ServedTablePath(path, table,
                                snapshot::ReplacementCommitted(path)),
      table, [&buffer, &file](int32_t count) -> void* {
        buffer.assign(
            static_cast<size_t>(count) * file.record_size + kSpareBytes, '\0');
        return buffer.data();
      });
  if (file.check.ok ||
      file.check.fault == snapshot::TableFault::kCounterOutOfRange) {
    buffer.resize(static_cast<size_t>(file.check.record_count) *
                  file.record_size);
    file.records = std::move(buffer);
  }
  return file;
}

namespace {

// By value: counters of a packed record must not bind to std::max's
// references.
int32_t NotNegative(int32_t count) { return count < 0 ? 0 : count; }

template <typename Record>
std::vector<Record> InUseRecords(const SnapshotSet& set, Table table) {
  std::vector<Record> records;
  for (int32_t i = 0; i < set.InUse(table); ++i) {
    records.push_back(set.tables[table].Get<Record>(i));
  }
  return records;
}

#define RONDEL_FIELD(Record, field, kind) \
  { #field, offsetof(Record, field), sizeof(Record::field), FieldKind::kind }

}  // namespace

SnapshotSet ReadSnapshotSet(const std::string& directory) {
  SnapshotSet set;
  for (int k = 0; k < kTableCount; ++k) {
    set.tables[k] = ReadSnapshotTable(directory, static_cast<Table>(k));
  }
  return set;
}

snapshot::Table SnapshotSet::FirstFailure() const {
  for (int k = 0; k < kTableCount; ++k) {
    if (!tables[k].check.ok) return static_cast<Table>(k);
  }
  return kTableCount;
}

bool SnapshotSet::Loads() const { return FirstFailure() == kTableCount; }

TableRecords SnapshotSet::StoredCounters() const {
  TableRecords counters = {};
  if (tables[snapshot::kTableRecords].count() > 0) {
    counters = tables[snapshot::kTableRecords].Get<TableRecords>(0);
  }
  return counters;
}

TableRecords SnapshotSet::CountersInUse() const {
  int32_t records[kTableCount] = {};
  for (int k = 0; k < kTableCount; ++k) records[k] = tables[k].count();
  TableRecords counters = StoredCounters();
  // Counters beyond their tables are refused by the load (all seven cleared).
  if (!snapshot::StoredCounterFault(counters).empty()) counters = {};
  return snapshot::CountersServed(counters, records);
}

int32_t SnapshotSet::InUse(snapshot::Table table) const {
  const TableRecords counters = CountersInUse();
  switch (table) {
    case snapshot::kMedias:
      return NotNegative(counters.MediaCount);
    case snapshot::kRooms:
      return NotNegative(counters.RoomCount);
    case snapshot::kFileServers:
      return NotNegative(counters.FileServerCount);
    default:
      return tables[table].count();
  }
}

std::vector<MediaRecord> SnapshotSet::Medias() const {
  return InUseRecords<MediaRecord>(*this, snapshot::kMedias);
}

std::vector<RoomRecord> SnapshotSet::Rooms() const {
  return InUseRecords<RoomRecord>(*this, snapshot::kRooms);
}

std::vector<FileServerRecord> SnapshotSet::FileServers() const {
  return InUseRecords<FileServerRecord>(*this, snapshot::kFileServers);
}

std::vector<int32_t> SnapshotSet::Entries(snapshot::Table play_list) const {
  return InUseRecords<int32_t>(*this, play_list);
}

int32_t PlayedLength(const std::vector<int32_t>& entries) {
  const auto zero = std::find(entries.begin(), entries.end(), 0);
  return static_cast<int32_t>(zero - entries.begin());
}

const std::vector<FieldFormat>& RecordFields(snapshot::Table table) {
  static const std::vector<FieldFormat> kCounters = {
      RONDEL_FIELD(TableRecords, MediaCount, kInt32),
      RONDEL_FIELD(TableRecords, Reserved, kInt32),
      RONDEL_FIELD(TableRecords, RoomCount, kInt32),
      RONDEL_FIELD(TableRecords, FileServerCount, kInt32),
      RONDEL_FIELD(TableRecords, FilmCount, kInt32),
      RONDEL_FIELD(TableRecords, SongCount, kInt32),
      RONDEL_FIELD(TableRecords, AdCount, kInt32),
  };
  static const std::vector<FieldFormat> kRoom = {
      RONDEL_FIELD(RoomRecord, RoomId, kInt32),
      RONDEL_FIELD(RoomRecord, RoomInfo, kText),
      RONDEL_FIELD(RoomRecord, RoomAddress, kText),
      RONDEL_FIELD(RoomRecord, RoomNumber, kInt32),
      RONDEL_FIELD(RoomRecord, PlayCursor, kInt32),
  };
  static const std::vector<FieldFormat> kMedia = {
      RONDEL_FIELD(MediaRecord, MediaId, kInt32),
      RONDEL_FIELD(MediaRecord, MediaName, kText),
      RONDEL_FIELD(MediaRecord, MediaCode, kText),
      RONDEL_FIELD(MediaRecord, Class, kInt32),
      RONDEL_FIELD(MediaRecord, TextA, kText),
      RONDEL_FIELD(MediaRecord, TextB, kText),
      RONDEL_FIELD(MediaRecord, NumberA, kInt32),
      RONDEL_FIELD(MediaRecord, NumberB, kInt32),
      RONDEL_FIELD(MediaRecord, NumberC, kInt32),
      RONDEL_FIELD(MediaRecord, GroupId, kInt32),
      RONDEL_FIELD(MediaRecord, FileList, kFileList),
  };
  static const std::vector<FieldFormat> kFileServer = {
      RONDEL_FIELD(FileServerRecord, FileServerId, kInt32),
      RONDEL_FIELD(FileServerRecord, ServerAddress, kText),
      RONDEL_FIELD(FileServerRecord, ServerValue3, kInt32),
      RONDEL_FIELD(FileServerRecord, GroupId, kInt32),
      RONDEL_FIELD(FileServerRecord, ServerValue5, kInt32),
  };
  static const std::vector<FieldFormat> kEntry = {
      {"MediaId", 0, sizeof(int32_t), FieldKind::kInt32}};
  switch (table) {
    case snapshot::kTableRecords:
      return kCounters;
    case snapshot::kRooms:
      return kRoom;
    case snapshot::kMedias:
      return kMedia;
    case snapshot::kFileServers:
      return kFileServer;
    default:
      return kEntry;
  }
}

int32_t FieldInt(const char* record, const FieldFormat& field) {
  int32_t value;
  std::memcpy(&value, record + field.offset, sizeof value);
  return value;
}

std::string FieldText(const char* record, const FieldFormat& field) {
  return FieldText(record + field.offset, field.size);
}

std::vector<std::string> FileListPaths(const char* field, size_t size,
                                       bool* terminated) {
  std::vector<std::string> paths;
  size_t at = 0;
  while (at < size && field[at] != '\0') {
    paths.push_back(FieldText(field + at, size - at));
    at += paths.back().size() + 1;
  }
  *terminated = at < size;
  return paths;
}

namespace {

void AppendEscape(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0f];
}

// Code page 936 to UTF-8. With `escape`, a byte that does not convert and a
// control byte are written \xNN and a backslash \\, so that every byte can be
// read back; else a byte that does not convert is U+FFFD.
std::string Convert(const std::string& bytes, bool escape) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  std::string in = bytes;
  char* in_at = &in[0];
  size_t in_left = in.size();
  char chunk[256];
  while (in_left > 0) {
    char* out_at = chunk;
    size_t out_left = sizeof chunk;
    const size_t rc = iconv(cd, &in_at, &in_left, &out_at, &out_left);
    for (const char* c = chunk; c < out_at; ++c) {
      const unsigned char byte = static_cast<unsigned char>(*c);
      if (!escape) {
        out += *c;
      } else if (byte < 0x20 || byte == 0x7f) {
        AppendEscape(out, byte);
      } else {
        if (*c == '\\') out += '\\';
        out += *c;
      }
    }
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      if (escape) {
        AppendEscape(out, static_cast<unsigned char>(*in_at));
      } else {
        out += "\xEF\xBF\xBD";  // U+FFFD for the byte that does not convert
      }
      ++in_at;
      --in_left;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string ConvertText(const std::string& bytes) {
  return Convert(bytes, false);
}

std::string EscapedText(const std::string& bytes) {
  return Convert(bytes, true);
}

std::string TerminalText(const std::string& bytes, bool raw) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (char c : raw ? bytes : ConvertText(bytes)) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0x0f];
    } else {
      shown += c;
    }
  }
  return shown;
}

namespace {

void AppendJsonEscape(std::string& out, unsigned code) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[(code >> 4) & 0x0f];
  out += kHex[code & 0x0f];
}

std::string Json(const std::string& text, bool bytes) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f || (bytes && byte >= 0x80)) {
      AppendJsonEscape(out, byte);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string JsonString(const std::string& utf8) { return Json(utf8, false); }

std::string JsonBytes(const std::string& bytes) { return Json(bytes, true); }

}  // namespace tools
}  // namespace rondel
