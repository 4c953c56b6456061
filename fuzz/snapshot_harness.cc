#include "snapshot_harness.h"

#include <stdlib.h>

#include <cstring>
#include <memory>

#include "catalogue/class_index.h"
#include "catalogue/media_index.h"
#include "catalogue/room_index.h"
#include "catalogue/tables.h"
#include "fuzz_target.h"
#include "playback/lookups.h"

namespace rondel {
namespace fuzz {

namespace {

// Lookups per table and input: the first records give most of the coverage,
// and a full 100,000-media table would make one input take seconds.
constexpr int32_t kLookedUp = 64;

// A field's text as a lookup key: up to its first zero byte, or all of it.
template <size_t kWidth>
std::string Key(const char (&field)[kWidth]) {
  return std::string(field, strnlen(field, kWidth));
}

// Output buffers of exactly the sizes the lookups document, on the heap so
// that a write past one is caught.
template <size_t kSize>
struct Text {
  std::unique_ptr<char[]> bytes{new char[kSize]};
  char* get() { return bytes.get(); }
  bool Terminated() const { return strnlen(bytes.get(), kSize) < kSize; }
};

void CheckMedia(int32_t media_count) {
  const Catalogue& c = g_catalogue;
  const int32_t looked_up = media_count < kLookedUp ? media_count : kLookedUp;
  for (int32_t i = 0; i < looked_up; ++i) {
    const int32_t id = c.medias[i].MediaId;
    const int32_t position = FindMediaPosition(id);
    FUZZ_CHECK(position == ScanMediaPosition(id));
    FUZZ_CHECK(position >= 0 && position <= i);
    Text<100> name;
    Text<10> code;
    Text<20> text_a, text_b;
    int media_class = 0, number_a = 0, number_b = 0, number_c = 0, group = 0;
    FUZZ_CHECK(LookUpMediaInfo(id, name.get(), code.get(), &media_class,
                               text_a.get(), text_b.get(), &number_a,
                               &number_b, &number_c, &group));
    FUZZ_CHECK(name.Terminated() && code.Terminated() && text_a.Terminated() &&
               text_b.Terminated());
    FUZZ_CHECK(media_class == c.medias[position].Class);
  }
  for (int32_t id : {0, -1, INT32_MIN, INT32_MAX}) {
    FUZZ_CHECK(FindMediaPosition(id) == ScanMediaPosition(id));
  }
}

void CheckClassIndex(const ClassIndexEntry* index, int32_t count,
                     int32_t media_count, int32_t media_class) {
  FUZZ_CHECK(count >= 0 && count <= media_count);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t position = index[i].CataloguePosition;
    FUZZ_CHECK(position >= 0 && position < media_count);
    FUZZ_CHECK(g_catalogue.medias[position].MediaId == index[i].MediaId);
    FUZZ_CHECK(g_catalogue.medias[position].Class == media_class);
  }
}

void CheckRooms(int32_t room_count) {
  const Catalogue& c = g_catalogue;
  const int32_t looked_up = room_count < kLookedUp ? room_count : kLookedUp;
  for (int32_t i = 0; i < looked_up; ++i) {
    const std::string address = Key(c.rooms[i].RoomAddress);
    const int32_t position = FindRoomPosition(address.c_str());
    FUZZ_CHECK(position == ScanRoomPosition(address.c_str()));
    FUZZ_CHECK(position >= 0 && position <= i);
    FUZZ_CHECK(FindRoom(address.c_str()) == &c.rooms[position]);
    Text<20> info;
    FUZZ_CHECK(LookUpRoomInfo(address.c_str(), info.get()));
    FUZZ_CHECK(info.Terminated());
  }
  for (const char* address : {"", "10.0.1.10", "255.255.255.255.255.25"}) {
    FUZZ_CHECK(FindRoomPosition(address) == ScanRoomPosition(address));
  }
}

void CheckFileServers(int32_t server_count) {
  const Catalogue& c = g_catalogue;
  for (int32_t i = 0; i < server_count; ++i) {
    const std::string address = Key(c.file_servers[i].ServerAddress);
    const FileServerRecord* server = FindFileServer(address.c_str());
    FUZZ_CHECK(server != nullptr && server <= &c.file_servers[i]);
    int id = -1, group = -1;
    FUZZ_CHECK(LookUpFileServer(address.c_str(), &id, &group));
    FUZZ_CHECK(id == server->FileServerId && group == server->GroupId);
  }
  int id = -1, group = -1;
  if (!LookUpFileServer("", &id, &group)) FUZZ_CHECK(id == 0 && group == 0);
}

}  // namespace

const std::string& SnapshotScratch() {
  static const std::string& directory = [] () -> const std::string& {
    const std::string& made = ScratchDirectory();
    setenv("RONDEL_SNAPSHOT_DIR", made.c_str(), 1);
    return made;
  }();
  return directory;
}

void* CatalogueMemory(snapshot::Table table) {
  Catalogue& c = g_catalogue;
  switch (table) {
    case snapshot::kTableRecords:
      return &c.table_records;
    case snapshot::kRooms:
      return c.rooms;
    case snapshot::kMedias:
      return c.medias;
    case snapshot::kFileServers:
      return c.file_servers;
    case snapshot::kAllSequence:
      return c.all_sequence.entries;
    case snapshot::kMonthSequence:
      return c.month_sequence.entries;
    case snapshot::kWeekSequence:
      return c.week_sequence.entries;
    case snapshot::kNewSequence:
      return c.new_sequence.entries;
    case snapshot::kUserSequence:
      return c.user_sequence.entries;
    case snapshot::kTableCount:
      break;
  }
  return nullptr;
}

void ResetForLoad() {
  ResetCatalogue();
  ClearPlayLists();
}

void ExerciseCatalogue() {
  const TableRecords& t = g_catalogue.table_records;
  const int32_t media_count = t.MediaCount;
  const int32_t room_count = t.RoomCount;
  const int32_t server_count = t.FileServerCount;
  FUZZ_CHECK(media_count >= 0 && media_count <= kMediaCapacity);
  FUZZ_CHECK(room_count >= 0 && room_count <= kRoomCapacity);
  FUZZ_CHECK(server_count >= 0 && server_count <= kFileServerCapacity);
  BuildClassIndexes();
  RebuildLookupIndexes();
  CheckMedia(media_count);
  CheckClassIndex(g_catalogue.film_index, t.FilmCount, media_count, kFilm);
  CheckClassIndex(g_catalogue.song_index, t.SongCount, media_count, kSong);
  CheckClassIndex(g_catalogue.ad_index, t.AdCount, media_count, kAd);
  CheckRooms(room_count);
  CheckFileServers(server_count);
}

}  // namespace fuzz
}  // namespace rondel
