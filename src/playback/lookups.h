// Catalogue lookups: media, rooms and file servers found by their keys.
//
// Each lookup answers what a scan of its table in table order would: the first
// record whose key matches exactly (byte for byte, case-sensitive). Media are
// found through the index by media id of catalogue/media_index.h; the
// tables do not change after start-up, so the readers take no lock and may run
// on any thread.
#ifndef RONDEL_PLAYBACK_LOOKUPS_H_
#define RONDEL_PLAYBACK_LOOKUPS_H_

#include <cstdint>

#include "catalogue/tables.h"

namespace rondel {

constexpr int kMediaFilesBufferSize = 2048;

// The first media record with `media_id` among the first MediaCount, or null.
const MediaRecord* FindMedia(int32_t media_id);
// The first room whose RoomAddress equals `address` among the first RoomCount,
// or null. REQUIRES: address != nullptr.
const RoomRecord* FindRoom(const char* address);
// The first file server whose ServerAddress equals `address`, or null.
// REQUIRES: address != nullptr.
const FileServerRecord* FindFileServer(const char* address);

// The attributes of a media into the non-null outputs; text outputs must hold
// the field (name 100, code 10, texts 20 bytes). True when found; nothing
// written when not.
bool LookUpMediaInfo(int32_t media_id, char* name, char* code, int* media_class,
                     char* text_a, char* text_b, int* number_a, int* number_b,
                     int* number_c, int* group_id);

// Allocates a zeroed kMediaFilesBufferSize buffer holding the media's FileList,
// stores it in *files and broadcasts each path in order up to the first empty
// one. False when the media is unknown or the buffer cannot be allocated (then
// *files is untouched). REQUIRES: files != nullptr. The buffer is released with
// ReleaseMediaFiles.
bool LookUpMediaFiles(int32_t media_id, char** files);
void ReleaseMediaFiles(char* files);  // null ignored

// The room's RoomInfo (20 bytes) into `room_info`. False (nothing written) when
// no room has the address, or when either pointer is null.
bool LookUpRoomInfo(const char* room_address, char* room_info);

// Zeroes both outputs, then sets them to the id and group of the file server at
// `server_address`. False when none has it or the address is null (outputs
// then 0), and when either output is null (nothing written).
bool LookUpFileServer(const char* server_address, int* file_server_id,
                      int* group_id);

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_LOOKUPS_H_
