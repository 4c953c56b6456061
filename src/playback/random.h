// The playback's random generator: a linear congruential generator with 32-bit
// state per thread, values 0..32767.
//
//   SeedRandom(s);          state := s
//   NextRandom();           state := state * 214013 + 2531011 (mod 2^32);
//                           answers (state >> 16) & 0x7FFF
//
// Every thread starts with state 1. Next-video selection seeds it from the tick
// count before drawing an advertisement's sequence number and from the
// calendar second before each file-server choice; random background play
// seeds it from the calendar second before each pick (platform/clock.h, which
// tests can fix).
#ifndef RONDEL_PLAYBACK_RANDOM_H_
#define RONDEL_PLAYBACK_RANDOM_H_

#include <cstdint>

namespace rondel {

void SeedRandom(uint32_t seed);
int NextRandom();

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_RANDOM_H_
