// The room-address index: an open-addressing hash table of room positions,
// twice the room capacity, in static storage like the tables. Rooms are
// inserted in table order and an address already present is not inserted
// again, so the entry of an address is the record a scan finds first.
#include "catalogue/room_index.h"

#include <cassert>
#include <cstring>

#include "catalogue/tables.h"

namespace rondel {

namespace {

constexpr size_t kAddressWidth = sizeof(RoomRecord::RoomAddress);
constexpr uint32_t kSlots = 1024;  // a power of two, at least 2 x 512
static_assert(kSlots >= 2 * kRoomCapacity, "room index load factor");

int16_t slots[kSlots];  // position + 1; 0 marks an empty slot
int32_t indexed = -1;   // the RoomCount the index was built for

int32_t RoomCountInUse() {
  const int32_t count = g_catalogue.table_records.RoomCount;
  if (count < 0) return 0;
  return count > kRoomCapacity ? kRoomCapacity : count;
}

// The address's length as a field holds it: up to its first zero byte, at
// most the field's width.
size_t FieldLength(const char* field) { return strnlen(field, kAddressWidth); }

uint32_t Hash(const char* text, size_t length) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < length; ++i) {
    h = (h ^ static_cast<unsigned char>(text[i])) * 16777619u;
  }
  return h;
}

bool Holds(const RoomRecord& room, const char* address, size_t length) {
  return FieldLength(room.RoomAddress) == length &&
         std::memcmp(room.RoomAddress, address, length) == 0;
}

// Whether a text whose first `length` bytes equal a field ends there. Only a
// text as wide as the field has its next byte read, and only once it has
// equalled a whole unterminated field: a host buffer of exactly the field's
// width without a terminator is never read past its end, and a longer text
// equals no address.
bool EndsWithin(const char* address, size_t length) {
  return length < kAddressWidth || address[kAddressWidth] == '\0';
}

}  // namespace

void RebuildRoomIndex() {
  std::memset(slots, 0, sizeof slots);
  const int32_t count = RoomCountInUse();
  for (int32_t i = 0; i < count; ++i) {
    const RoomRecord& room = g_catalogue.rooms[i];
    const size_t length = FieldLength(room.RoomAddress);
    for (uint32_t s = Hash(room.RoomAddress, length);; ++s) {
      int16_t& slot = slots[s & (kSlots - 1)];
      if (slot == 0) {
        slot = static_cast<int16_t>(i + 1);
        break;
      }
      if (Holds(g_catalogue.rooms[slot - 1], room.RoomAddress, length)) break;
    }
  }
  indexed = count;
}

int32_t ScanRoomPosition(const char* address) {
  assert(address != nullptr);
  const size_t length = FieldLength(address);
  const int32_t count = RoomCountInUse();
  for (int32_t i = 0; i < count; ++i) {
    if (Holds(g_catalogue.rooms[i], address, length)) {
      return EndsWithin(address, length) ? i : -1;
    }
  }
  return -1;
}

int32_t FindRoomPosition(const char* address) {
  assert(address != nullptr);
  if (indexed != RoomCountInUse()) return ScanRoomPosition(address);
  const size_t length = FieldLength(address);
  for (uint32_t s = Hash(address, length);; ++s) {
    const int16_t slot = slots[s & (kSlots - 1)];
    if (slot == 0) return -1;
    if (Holds(g_catalogue.rooms[slot - 1], address, length)) {
      return EndsWithin(address, length) ? slot - 1 : -1;
    }
  }
}

}  // namespace rondel
