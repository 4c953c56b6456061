// The index by media id over the media table, behind the media lookups.
#ifndef RONDEL_CATALOGUE_MEDIA_INDEX_H_
#define RONDEL_CATALOGUE_MEDIA_INDEX_H_

#include <cstdint>

namespace rondel {

// Rebuilds the media-id index from the first MediaCount records of Medias, and
// the room-address index (room_index.h) from the first RoomCount rooms. Call
// it after the tables are filled (start-up calls it right after
// BuildClassIndexes; tests after filling tables by hand). REQUIRES: no lookup
// runs at the same time.
void RebuildLookupIndexes();

// The position in Medias of the first record (lowest position) among the first
// MediaCount whose MediaId is `media_id`, or -1. Uses the index that
// RebuildLookupIndexes built; when the table's count no longer matches the
// index, scans the table instead, so the answer is always that of a scan in
// table order.
int32_t FindMediaPosition(int32_t media_id);

// The plain scan in table order, for checks against the index.
int32_t ScanMediaPosition(int32_t media_id);

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_MEDIA_INDEX_H_
