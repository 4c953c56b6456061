// Helpers for the catalogue tests: snapshot field bytes and records put into
// the tables by hand. Scratch directories, whole-file access and the loopback
// listener for the diagnostic datagrams are shared by all tests
// (tests/support).
#ifndef RONDEL_TESTS_SUPPORT_CATALOGUE_RECORDS_H_
#define RONDEL_TESTS_SUPPORT_CATALOGUE_RECORDS_H_

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "catalogue/tables.h"

namespace rondel {
namespace testing {

// Little-endian int32 bytes, as a snapshot file holds them.
inline std::string Le32(int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return bytes;
}

// A text field of `width` bytes: the text, then zeros.
inline std::string Field(const std::string& text, size_t width) {
  std::string bytes = text.substr(0, width);
  bytes.resize(width, '\0');
  return bytes;
}

inline void CopyText(char* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

// Appends a media record at position MediaCount and reports it as written.
inline MediaRecord& AddMedia(int32_t id, int32_t media_class,
                             const std::string& name = "",
                             std::initializer_list<std::string> files = {}) {
  TableRecords& t = g_catalogue.table_records;
  MediaRecord& m = g_catalogue.medias[t.MediaCount];
  std::memset(&m, 0, sizeof m);
  m.MediaId = id;
  CopyText(m.MediaName, sizeof m.MediaName, name);
  m.Class = media_class;
  size_t at = 0;
  for (const std::string& path : files) {
    std::memcpy(m.FileList + at, path.c_str(), path.size() + 1);
    at += path.size() + 1;
  }
  ++t.MediaCount;
  NoteMediasWritten(t.MediaCount);
  return m;
}

inline RoomRecord& AddRoom(int32_t id, const std::string& info,
                           const std::string& address, int32_t number = 0,
                           int32_t cursor = -1) {
  TableRecords& t = g_catalogue.table_records;
  RoomRecord& r = g_catalogue.rooms[t.RoomCount++];
  std::memset(&r, 0, sizeof r);
  r.RoomId = id;
  CopyText(r.RoomInfo, sizeof r.RoomInfo, info);
  CopyText(r.RoomAddress, sizeof r.RoomAddress, address);
  r.RoomNumber = number;
  r.PlayCursor = cursor;
  return r;
}

inline FileServerRecord& AddFileServer(int32_t id, const std::string& address,
                                       int32_t group, int32_t value3 = 0,
                                       int32_t value5 = 0) {
  TableRecords& t = g_catalogue.table_records;
  FileServerRecord& s = g_catalogue.file_servers[t.FileServerCount++];
  std::memset(&s, 0, sizeof s);
  s.FileServerId = id;
  CopyText(s.ServerAddress, sizeof s.ServerAddress, address);
  s.ServerValue3 = value3;
  s.GroupId = group;
  s.ServerValue5 = value5;
  return s;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_CATALOGUE_RECORDS_H_
