// Background play: the play-type table, the sources' entry counts and the
// per-room cursors.
//
// Why the cursors and the found counts live here and not in the tables: host
// threads call for the same room at once, and without a lock two plain
// read-increment-writes of PlayCursor could hand out one entry twice and skip
// the next. An atomic cannot sit in the record: PlayCursor is a packed int32
// inside a 52-byte record whose bytes the snapshot files copy, and a packed
// field has no alignment the language lets an atomic rely on. So each room
// position (0..511) has an atomic slot beside the tables, zero-initialised
// like them, holding cursor + 1, or 0 while the record's PlayCursor still
// stands. The first sequential call for a room reads that PlayCursor (written
// only by start-up, so a plain read races with nothing) and every call moves
// the slot with a compare-exchange, so each call takes exactly one step.
// The record is never written back: it is only saved to a snapshot during
// start-up, before the host makes any call, so nothing would read the copy.
//
// A play list's stored count is likewise written only by start-up. A list
// found uncounted (stored count 0) is counted by each call that finds no
// count yet; its entries never change after start-up, so every such call finds
// the same number, and a compare-exchange from 0 stores it once.
#include "playback/background_play.h"

#include <atomic>

#include "catalogue/tables.h"
#include "platform/clock.h"
#include "playback/lookups.h"
#include "playback/random.h"

namespace rondel {

namespace {

enum class Manner : uint8_t { kRandom, kSequential };

enum class Source : uint8_t {
  kAdIndex,
  kFilmIndex,
  kSongIndex,
  kPrefix86List,
  kAllSequence,
  kWeekSequence,
  kMonthSequence,
  kNewSequence,
  kUserSequence,
};

struct PlayTypeRule {
  Manner manner;
  Source source;
};

constexpr PlayTypeRule kPlayTypes[] = {
    {Manner::kRandom, Source::kAdIndex},            // 0
    {Manner::kRandom, Source::kFilmIndex},          // 1
    {Manner::kRandom, Source::kSongIndex},          // 2
    {Manner::kRandom, Source::kPrefix86List},       // 3
    {Manner::kSequential, Source::kAdIndex},        // 4
    {Manner::kSequential, Source::kAllSequence},    // 5
    {Manner::kRandom, Source::kAllSequence},        // 6
    {Manner::kSequential, Source::kWeekSequence},   // 7
    {Manner::kRandom, Source::kWeekSequence},       // 8
    {Manner::kSequential, Source::kMonthSequence},  // 9
    {Manner::kRandom, Source::kMonthSequence},      // 10
    {Manner::kSequential, Source::kNewSequence},    // 11
    {Manner::kRandom, Source::kNewSequence},        // 12
    {Manner::kSequential, Source::kUserSequence},   // 13
    {Manner::kRandom, Source::kUserSequence},       // 14
};
constexpr int32_t kPlayTypeCount =
    static_cast<int32_t>(sizeof kPlayTypes / sizeof kPlayTypes[0]);

// One per play list, in Source order from kAllSequence: the count found by
// counting a list stored with count 0; 0 until found.
constexpr int kPlayLists = 5;
std::atomic<int32_t> g_found_counts[kPlayLists];

// Per room position: the room's cursor + 1; 0 while the record's PlayCursor
// stands.
std::atomic<int32_t> g_cursor_slots[kRoomCapacity];

// A source's entries: a class index (answering each entry's MediaId) or a list
// of media ids; `count` is at most the table's capacity, so every entry below
// it lies inside the table.
struct Entries {
  const ClassIndexEntry* index;
  const int32_t* ids;
  int32_t count;

  int32_t At(int32_t i) const {
    return index != nullptr ? index[i].MediaId : ids[i];
  }
};

// A count as stored, but never past the table's end (a count of 0 or below
// stays as it is: no entries).
int32_t Bounded(int32_t count, int32_t capacity) {
  return count > capacity ? capacity : count;
}

template <int kCapacity>
int32_t PlayListCount(const PlayList<kCapacity>& list,
                      std::atomic<int32_t>& found) {
  const int32_t stored = list.count;
  if (stored != 0) return Bounded(stored, kCapacity);
  int32_t count = found.load(std::memory_order_relaxed);
  if (count != 0) return count;
  while (count < kCapacity && list.entries[count] != 0) ++count;
  // An empty list stores nothing: the next call counts it again. Relaxed is
  // enough: the number is all a reader takes from the slot, and the entries it
  // then reads were written by start-up, before any call.
  int32_t unfound = 0;
  if (count != 0) {
    found.compare_exchange_strong(unfound, count, std::memory_order_relaxed);
  }
  return count;
}

Entries SourceEntries(Source source) {
  Catalogue& c = g_catalogue;
  const TableRecords& t = c.table_records;
  switch (source) {
    case Source::kAdIndex:
      return {c.ad_index, nullptr, Bounded(t.AdCount, kMediaCapacity)};
    case Source::kFilmIndex:
      return {c.film_index, nullptr, Bounded(t.FilmCount, kMediaCapacity)};
    case Source::kSongIndex:
      return {c.song_index, nullptr, Bounded(t.SongCount, kMediaCapacity)};
    case Source::kPrefix86List:
      return {nullptr, c.prefix86_list.entries,
              Bounded(c.prefix86_list.count, kMediaCapacity)};
    case Source::kAllSequence:
      return {nullptr, c.all_sequence.entries,
              PlayListCount(c.all_sequence, g_found_counts[0])};
    case Source::kWeekSequence:
      return {nullptr, c.week_sequence.entries,
              PlayListCount(c.week_sequence, g_found_counts[1])};
    case Source::kMonthSequence:
      return {nullptr, c.month_sequence.entries,
              PlayListCount(c.month_sequence, g_found_counts[2])};
    case Source::kNewSequence:
      return {nullptr, c.new_sequence.entries,
              PlayListCount(c.new_sequence, g_found_counts[3])};
    case Source::kUserSequence:
      return {nullptr, c.user_sequence.entries,
              PlayListCount(c.user_sequence, g_found_counts[4])};
  }
  return {nullptr, nullptr, 0};
}

// Moves the cursor of the room at `position` one entry on in a source of
// `count` entries (count > 0) and answers the new cursor, 0..count-1.
int32_t StepCursor(int32_t position, int32_t count) {
  // Relaxed: the slot is the whole of the cursor's state, and its modification
  // order alone makes every step follow the one before.
  std::atomic<int32_t>& slot = g_cursor_slots[position];
  int32_t seen = slot.load(std::memory_order_relaxed);
  int32_t next;
  do {
    const int32_t cursor =
        seen != 0 ? seen - 1 : g_catalogue.rooms[position].PlayCursor;
    // Past the last entry wraps to the first; a cursor below -1 would step to
    // a position before the list, so it starts over too.
    next = cursor >= -1 && cursor < count - 1 ? cursor + 1 : 0;
  } while (
      !slot.compare_exchange_weak(seen, next + 1, std::memory_order_relaxed));
  return next;
}

}  // namespace

int32_t NextBackgroundMedia(const char* room_address) {
  const int32_t play_type = g_play_type;
  if (play_type < 0 || play_type >= kPlayTypeCount) return kNoBackgroundMedia;
  const PlayTypeRule rule = kPlayTypes[play_type];
  const Entries source = SourceEntries(rule.source);
  if (source.count <= 0) return kNoBackgroundMedia;

  if (rule.manner == Manner::kRandom) {
    // The seed is the second's low 32 bits, as the generator's state holds.
    SeedRandom(static_cast<uint32_t>(platform::CalendarSeconds()));
    return source.At(NextRandom() % source.count);
  }

  if (room_address == nullptr || room_address[0] == '\0') {
    return kNoBackgroundMedia;
  }
  const RoomRecord* room = FindRoom(room_address);
  if (room == nullptr) return kNoBackgroundMedia;
  const int32_t position = static_cast<int32_t>(room - g_catalogue.rooms);
  return source.At(StepCursor(position, source.count));
}

}  // namespace rondel
