// Next-video selection: what a room plays next and from which file server.
//
// A call asks the database for the room's selection, else for an
// advertisement; copies the media's attributes from the catalogue; writes the
// kind text and the play URL "vsp://" + server + "/|||" + media id, the server
// being the least-loaded file server of the media's group (or a random one when
// the database reports no counts), FileServerIP standing in when none
// qualifies. Each step reports its progress as a diagnostic datagram; the
// texts are fixed (monitoring tools match them, misspellings included).
//
// Each database query is its own locked exchange, so other calls' exchanges may
// run between the steps of one call. REQUIRES for all: the catalogue lock not
// held by this thread.
#ifndef RONDEL_PLAYBACK_NEXT_VIDEO_H_
#define RONDEL_PLAYBACK_NEXT_VIDEO_H_

#include <cstdint>

#include "exports/host_interface.h"

namespace rondel {

constexpr int kGroupServerCapacity = 20;
// The count of an entry no counted row filled: never the least loaded.
constexpr int32_t kUnfilledConnections = 100000;
// A server with more connections than this is never chosen.
constexpr int32_t kConnectionThreshold = 10000;

// The file servers of one server group as read for one URL.
struct GroupServerList {
  char address[kGroupServerCapacity]
              [host::kAddressSize];           // "" where no row filled it
  int32_t connections[kGroupServerCapacity];  // kUnfilledConnections likewise
  bool counted;                               // rows came with counts
  int32_t entry_count;                        // 0..20
};

// "spm_getplayingmedia": "@userip" (varchar) and the output "@media_id" (int,
// sent as 0). True when the returned id is above 0; *media_id receives it.
bool QueryPlayingMedia(const char* room_address, int32_t* media_id);

// "spm_getadsfilepath": "@sequence" (one draw after seeding with the tick
// count), "@room_id" 0, "@room_ipaddress" and the output "@media_id". True when
// the returned id is non-zero (negative ids count). Whenever the call was
// accepted, broadcasts "Return status = %ld" or "No return status for this
// command.", under the lock.
bool QueryAdMedia(const char* room_address, int32_t* media_id);

// The group's servers: first "sp_getfileserverconnectioninfo" ("@group_id";
// column 3 count, column 4 address), and when that fails in any way, in the
// same lock hold, "sp_getfileservers" ("@groupID"; column 3 address) over the
// same list, entry count reset but entries kept. Rows beyond 20 are read and
// dropped. False when both fail.
bool ReadGroupServers(int32_t group_id, GroupServerList* list);

// The server address for a URL from a read list: least connections (ties
// decided by a coin from the generator seeded with the calendar second) when
// counted, else a random entry (broadcasting "random" and the entry's text).
// Writes FileServerIP when no entry qualifies or the chosen one is empty.
void ChooseServer(GroupServerList& list, char (&address)[host::kAddressSize]);

// The whole selection. `room_address`, `url` (host::kPlayUrlSize bytes) and
// `kind` (host::kKindSize) are required; the attribute outputs may be null.
// Returns 1 when a URL was built. On a failure nothing is written before the
// media is found in the catalogue; after that, the attributes, the kind and
// "vsp://" are. A media found whose group's server list cannot be read (both
// attempts failed, "can not Get Group info" broadcast) still plays, from
// FileServerIP: the room's selection is gone from the database once read. Only
// with FileServerIP empty, or a group id of 0, is the answer then 0.
//
//   media 101, both lists fail, FileServerIP "10.9.9.9"
//   -> 1, "vsp://10.9.9.9/|||101"; FileServerIP "" -> 0, "vsp://"
int NextVideo(const char* room_address, char* name, char* code, char* url,
              char* kind, char* text_a, char* text_b, int* number_a,
              int* number_b, int* number_c);

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_NEXT_VIDEO_H_
