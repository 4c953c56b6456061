// The catalogue lookups: media by id (through the media index), rooms and file
// servers by address (a scan of at most 512 and 20 records).
//
// Text fields of records read from a snapshot file may lack their terminator,
// so every comparison and copy here is bounded by the field's width.
#include "playback/lookups.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "catalogue/media_index.h"
#include "catalogue/room_index.h"
#include "frame/diag.h"

namespace rondel {

namespace {

// True when the text held in `field` (up to its first zero byte, or all `width`
// bytes) is exactly `key`.
bool FieldEquals(const char* field, size_t width, const char* key) {
  for (size_t i = 0; i < width; ++i) {
    if (field[i] != key[i]) return false;
    if (key[i] == '\0') return true;
  }
  return key[width] == '\0';
}

// Copies the field's text with a terminator; an unterminated field gives its
// first width - 1 bytes, so the destination never receives more than `width`
// bytes.
template <size_t kWidth>
void CopyField(char* destination, const char (&field)[kWidth]) {
  size_t length = 0;
  while (length < kWidth - 1 && field[length] != '\0') ++length;
  std::memcpy(destination, field, length);
  destination[length] = '\0';
}

int32_t CountInUse(int32_t count, int32_t capacity) {
  if (count < 0) return 0;
  return count > capacity ? capacity : count;
}

}  // namespace

const MediaRecord* FindMedia(int32_t media_id) {
  const int32_t position = FindMediaPosition(media_id);
  return position < 0 ? nullptr : &g_catalogue.medias[position];
}

const RoomRecord* FindRoom(const char* address) {
  assert(address != nullptr);
  const int32_t position = FindRoomPosition(address);
  return position < 0 ? nullptr : &g_catalogue.rooms[position];
}

const FileServerRecord* FindFileServer(const char* address) {
  assert(address != nullptr);
  const int32_t count = CountInUse(g_catalogue.table_records.FileServerCount,
                                   kFileServerCapacity);
  for (int32_t i = 0; i < count; ++i) {
    const FileServerRecord& server = g_catalogue.file_servers[i];
    if (FieldEquals(server.ServerAddress, sizeof server.ServerAddress,
                    address)) {
      return &server;
    }
  }
  return nullptr;
}

bool LookUpMediaInfo(int32_t media_id, char* name, char* code, int* media_class,
                     char* text_a, char* text_b, int* number_a, int* number_b,
                     int* number_c, int* group_id) {
  const MediaRecord* media = FindMedia(media_id);
  if (media == nullptr) return false;
  if (name != nullptr) CopyField(name, media->MediaName);
  if (code != nullptr) CopyField(code, media->MediaCode);
  if (media_class != nullptr) *media_class = media->Class;
  if (text_a != nullptr) CopyField(text_a, media->TextA);
  if (text_b != nullptr) CopyField(text_b, media->TextB);
  if (number_a != nullptr) *number_a = media->NumberA;
  if (number_b != nullptr) *number_b = media->NumberB;
  if (number_c != nullptr) *number_c = media->NumberC;
  if (group_id != nullptr) *group_id = media->GroupId;
  return true;
}

bool LookUpMediaFiles(int32_t media_id, char** files) {
  assert(files != nullptr);
  const MediaRecord* media = FindMedia(media_id);
  if (media == nullptr) return false;
  char* buffer = static_cast<char*>(std::calloc(kMediaFilesBufferSize, 1));
  if (buffer == nullptr) return false;
  std::memcpy(buffer, media->FileList, kFileListSize);
  *files = buffer;
  // The zeros after the copied list end every walk inside the buffer, even for
  // a list from a snapshot that lacks its final empty text.
  size_t offset = 0;
  while (offset < kFileListSize && buffer[offset] != '\0') {
    Broadcast(buffer + offset);
    offset += std::strlen(buffer + offset) + 1;
  }
  return true;
}

void ReleaseMediaFiles(char* files) { std::free(files); }

bool LookUpRoomInfo(const char* room_address, char* room_info) {
  if (room_address == nullptr || room_info == nullptr) return false;
  const RoomRecord* room = FindRoom(room_address);
  if (room == nullptr) return false;
  CopyField(room_info, room->RoomInfo);
  return true;
}

bool LookUpFileServer(const char* server_address, int* file_server_id,
                      int* group_id) {
  // Both outputs are required: without one there is no answer to give.
  if (file_server_id == nullptr || group_id == nullptr) return false;
  *file_server_id = 0;
  *group_id = 0;
  if (server_address == nullptr) return false;
  const FileServerRecord* server = FindFileServer(server_address);
  if (server == nullptr) return false;
  *file_server_id = server->FileServerId;
  *group_id = server->GroupId;
  return true;
}

}  // namespace rondel
