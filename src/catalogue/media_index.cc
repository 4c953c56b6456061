// The media-id index: (MediaId, position) pairs of the media table sorted by
// id, then by position, so the first entry of an id is the record a scan in
// table order finds first. Static storage like the tables themselves: nothing
// is allocated, and pages beyond the media count are never touched.
#include "catalogue/media_index.h"

#include <algorithm>

#include "catalogue/room_index.h"
#include "catalogue/tables.h"

namespace rondel {

namespace {

struct MediaKey {
  int32_t media_id;
  int32_t position;
};

bool KeyBefore(const MediaKey& a, const MediaKey& b) {
  return a.media_id != b.media_id ? a.media_id < b.media_id
                                  : a.position < b.position;
}

MediaKey keys[kMediaCapacity];
int32_t key_count = -1;  // -1: no index built yet

int32_t MediaCountInUse() {
  int32_t count = g_catalogue.table_records.MediaCount;
  if (count < 0) return 0;
  return count > kMediaCapacity ? kMediaCapacity : count;
}

}  // namespace

void RebuildLookupIndexes() {
  RebuildRoomIndex();
  const int32_t count = MediaCountInUse();
  for (int32_t i = 0; i < count; ++i) {
    keys[i].media_id = g_catalogue.medias[i].MediaId;
    keys[i].position = i;
  }
  std::sort(keys, keys + count, KeyBefore);
  key_count = count;
}

int32_t ScanMediaPosition(int32_t media_id) {
  const int32_t count = MediaCountInUse();
  for (int32_t i = 0; i < count; ++i) {
    if (g_catalogue.medias[i].MediaId == media_id) return i;
  }
  return -1;
}

int32_t FindMediaPosition(int32_t media_id) {
  if (key_count != MediaCountInUse()) return ScanMediaPosition(media_id);
  const MediaKey probe{media_id, -1};
  const MediaKey* found =
      std::lower_bound(keys, keys + key_count, probe, KeyBefore);
  if (found == keys + key_count || found->media_id != media_id) return -1;
  return found->position;
}

}  // namespace rondel
