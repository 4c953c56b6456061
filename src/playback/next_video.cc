// Next-video selection: the three database queries, the server choice and
// the call that strings them together.
#include "playback/next_video.h"

#include <cstdio>
#include <cstring>

#include "frame/diag.h"
#include "frame/exchange.h"
#include "frame/settings.h"
#include "platform/clock.h"
#include "playback/lookups.h"
#include "playback/random.h"

namespace rondel {

namespace {

void ResetList(GroupServerList* list) {
  std::memset(list->address, 0, sizeof list->address);
  for (int32_t& c : list->connections) c = kUnfilledConnections;
  list->counted = false;
  list->entry_count = 0;
}

void CopyAddress(char (&to)[host::kAddressSize], const char* from) {
  const size_t n = strnlen(from, sizeof to - 1);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

bool ReadCounted(Exchange& x, int32_t group_id, GroupServerList* list) {
  if (!x.Reconnect() || !x.Call("sp_getfileserverconnectioninfo",
                                {Param::Int("@group_id", group_id)})) {
    return false;
  }
  int32_t count = 0;
  char address[host::kAddressSize] = "";
  return x.ReadRows(
      {Column::Int(3, &count), Column::Text(4, address, sizeof address)}, [&] {
        if (list->entry_count < kGroupServerCapacity) {
          CopyAddress(list->address[list->entry_count], address);
          list->connections[list->entry_count] = count;
          ++list->entry_count;
        }
        return true;
      });
}

bool ReadUncounted(Exchange& x, int32_t group_id, GroupServerList* list) {
  if (!x.Reconnect() ||
      !x.Call("sp_getfileservers", {Param::Int("@groupID", group_id)})) {
    return false;
  }
  char address[host::kAddressSize] = "";
  return x.ReadRows({Column::Text(3, address, sizeof address)}, [&] {
    if (list->entry_count < kGroupServerCapacity) {
      CopyAddress(list->address[list->entry_count], address);
      ++list->entry_count;
    }
    return true;
  });
}

uint32_t SecondsSeed() {
  // The low 32 bits of the calendar second, as a 32-bit time would give them.
  return static_cast<uint32_t>(platform::CalendarSeconds());
}

void LeastLoaded(const GroupServerList& list,
                 char (&address)[host::kAddressSize]) {
  SeedRandom(SecondsSeed());
  const int n = list.entry_count >= 1 && list.entry_count <= 19
                    ? list.entry_count
                    : kGroupServerCapacity;
  int best = -1;
  int32_t threshold = kConnectionThreshold;
  for (int i = 0; i < n; ++i) {
    const int32_t c = list.connections[i];
    if (c < threshold) {
      best = i;
      threshold = c;
    } else if (c == threshold) {
      // A coin on ties: each later server of the least count takes over with
      // one half chance.
      if (NextRandom() % 2 == 0) best = i;
    }
  }
  if (best < 0 || list.address[best][0] == '\0') {
    CopyFileServerIp(address);
  } else {
    CopyAddress(address, list.address[best]);
  }
}

void RandomServer(GroupServerList& list, char (&address)[host::kAddressSize]) {
  Broadcast("random");
  SeedRandom(SecondsSeed());
  if (list.entry_count < 1) list.entry_count = 1;
  const int i = NextRandom() % list.entry_count;
  if (list.address[i][0] == '\0') {
    CopyFileServerIp(address);
  } else {
    CopyAddress(address, list.address[i]);
  }
  Broadcast(list.address[i]);
}

}  // namespace

bool QueryPlayingMedia(const char* room_address, int32_t* media_id) {
  Exchange x;
  if (!x.connected()) return false;
  int32_t id = 0;
  if (!x.Call("spm_getplayingmedia", {Param::Text("@userip", room_address),
                                      Param::IntOutput("@media_id", &id)})) {
    return false;
  }
  x.HarvestReturns({ReturnTarget::Int("@media_id", &id)});
  *media_id = id;
  return id > 0;
}

bool QueryAdMedia(const char* room_address, int32_t* media_id) {
  SeedRandom(platform::TickCount());
  const int32_t sequence = NextRandom();
  Exchange x;
  if (!x.connected()) return false;
  int32_t id = 0;
  if (!x.Call("spm_getadsfilepath",
              {Param::Int("@sequence", sequence), Param::Int("@room_id", 0),
               Param::Text("@room_ipaddress", room_address),
               Param::IntOutput("@media_id", &id)})) {
    return false;
  }
  x.HarvestReturns({ReturnTarget::Int("@media_id", &id)});
  if (x.HasReturnStatus()) {
    char text[48];
    std::snprintf(text, sizeof text, "Return status = %ld",
                  static_cast<long>(x.ReturnStatus()));
    Broadcast(text);
  } else {
    Broadcast("No return status for this command.");
  }
  *media_id = id;
  return id != 0;
}

bool ReadGroupServers(int32_t group_id, GroupServerList* list) {
  ResetList(list);
  // One lock hold for both attempts: the fall-back list is read before any
  // other exchange can change the registry in between.
  Exchange x(Exchange::kDeferOpen);
  if (ReadCounted(x, group_id, list)) {
    list->counted = true;
    return true;
  }
  x.Disconnect();
  // Entries stay as the abandoned attempt left them; rows overwrite them from
  // the first one on.
  list->entry_count = 0;
  if (ReadUncounted(x, group_id, list)) {
    list->counted = false;
    return true;
  }
  return false;
}

void ChooseServer(GroupServerList& list, char (&address)[host::kAddressSize]) {
  if (list.counted) {
    LeastLoaded(list, address);
  } else {
    RandomServer(list, address);
  }
}

int NextVideo(const char* room_address, char* name, char* code, char* url,
              char* kind, char* text_a, char* text_b, int* number_a,
              int* number_b, int* number_c) {
  Broadcast("GetNextVideo begin");
  int32_t media_id = 0;
  int media_class = 0;
  int group_id = 0;
  if (QueryPlayingMedia(room_address, &media_id)) {
    Broadcast("heve select media");
    if (!LookUpMediaInfo(media_id, name, code, &media_class, text_a, text_b,
                         number_a, number_b, number_c, &group_id)) {
      Broadcast("get select mdedia info error");
      return 0;
    }
  } else {
    // A failed selection query is treated as an empty selection.
    if (!QueryAdMedia(room_address, &media_id)) {
      Broadcast("get ad media error");
      return 0;
    }
    if (!LookUpMediaInfo(media_id, name, code, &media_class, text_a, text_b,
                         number_a, number_b, number_c, &group_id)) {
      Broadcast("get ad media info error");
      return 0;
    }
    media_class = kAd;
  }
  Broadcast("GetNextVideo good return");
  std::strcpy(kind, media_class == kFilm   ? "film"
                    : media_class == kSong ? "song"
                                           : "ad");
  std::strcpy(url, host::kUrlScheme);
  if (group_id == 0) {
    Broadcast("can not Get Group ID");
    return 0;
  }
  char address[host::kAddressSize];
  GroupServerList list;
  if (ReadGroupServers(group_id, &list)) {
    ChooseServer(list, address);
  } else {
    Broadcast("can not Get Group info");
    // The selection was consumed by the database when it was read: answering
    // nothing here would skip the room's song. FileServerIP is where a media
    // goes when no server of its group qualifies; with none set there is no
    // server to name.
    CopyFileServerIp(address);
    if (address[0] == '\0') return 0;
  }
  char tail[24];
  std::snprintf(tail, sizeof tail, "%s%ld", host::kPlayUrlSeparator,
                static_cast<long>(media_id));
  // At most host::kPlayUrlSize bytes with the terminator: what the caller
  // provides.
  std::strcat(url, address);
  std::strcat(url, tail);
  return 1;
}

}  // namespace rondel
