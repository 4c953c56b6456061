// The index of rooms by address, behind the room lookups: a lookup costs one
// hash and one comparison instead of a scan of up to 512 records.
#ifndef RONDEL_CATALOGUE_ROOM_INDEX_H_
#define RONDEL_CATALOGUE_ROOM_INDEX_H_

#include <cstdint>

namespace rondel {

// Rebuilds the index from the first RoomCount records of Rooms. Called by
// RebuildLookupIndexes. REQUIRES: no lookup runs at the same time.
void RebuildRoomIndex();

// The position in Rooms of the first record (in table order) among the first
// RoomCount whose RoomAddress holds exactly `address` (up to the field's first
// zero byte, or all 20 bytes), or -1. When the table's count no longer matches
// the index, scans the table instead: the answer is always a scan's.
// REQUIRES: address != nullptr.
int32_t FindRoomPosition(const char* address);

// The plain scan in table order, for checks against the index.
int32_t ScanRoomPosition(const char* address);

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_ROOM_INDEX_H_
