// Background play: the media a room plays when nobody has chosen one, by the
// venue's play type (g_play_type, set at start-up).
//
//   type  manner      source          type  manner      source
//      0  random      AdIndex            8  random      WeekSequence
//      1  random      FilmIndex          9  sequential  MonthSequence
//      2  random      SongIndex         10  random      MonthSequence
//      3  random      Prefix86List      11  sequential  NewSequence
//      4  sequential  AdIndex           12  random      NewSequence
//      5  sequential  AllSequence       13  sequential  UserSequence
//      6  random      AllSequence       14  random      UserSequence
//      7  sequential  WeekSequence      other values: no source
//
// A random pick seeds the calling thread's generator (playback/random.h) with
// the calendar second and answers entry (first draw mod count), so every pick
// of one type within one second answers the same entry. A sequential pick
// moves the room's cursor one entry on and answers the entry there: a cursor
// of -1 (a room loaded from the database) gives entry 0, and a cursor at or
// past the last entry (say 150, left by a longer list) wraps to entry 0. For a
// class index the answer is the entry's MediaId.
//
// Entry counts: the class indexes use FilmCount, SongCount and AdCount, and
// Prefix86List its own count. A play list whose stored count is 0 is counted
// at the call: its leading non-zero entries, at most its capacity (so a media
// id of 0 ends a list); a non-zero count is used as it stands.
#ifndef RONDEL_PLAYBACK_BACKGROUND_PLAY_H_
#define RONDEL_PLAYBACK_BACKGROUND_PLAY_H_

#include <cstdint>

namespace rondel {

constexpr int32_t kNoBackgroundMedia = -1;

// The media id the room at `room_address` plays next in the background.
// kNoBackgroundMedia when the play type is outside 0..14, when its source has
// no entries, and, for sequential types, when the address is null or empty or
// names no room (the first room in table order whose RoomAddress equals it
// byte for byte). Random types ignore the address. A failed call moves no
// cursor.
//
// Takes no lock and may run on any thread, for the same room at once: each
// call moves that room's cursor exactly one entry, and a play list is counted
// by whichever calls find it uncounted, its count stored once.
//
// A room's cursor starts from the PlayCursor its record holds at the room's
// first sequential call; the records themselves are never written after
// start-up. A cursor below -1 (only a damaged snapshot can hold one) starts
// at entry 0, as -1 does.
//
// REQUIRES: start-up has filled the catalogue, once in the process, before the
// first call (cursors and counts found here are kept for the process's life).
int32_t NextBackgroundMedia(const char* room_address);

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_BACKGROUND_PLAY_H_
