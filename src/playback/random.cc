#include "playback/random.h"

namespace rondel {

namespace {

thread_local uint32_t t_state = 1;

}  // namespace

void SeedRandom(uint32_t seed) { t_state = seed; }

int NextRandom() {
  t_state = t_state * 214013u + 2531011u;  // unsigned: wraps modulo 2^32
  return static_cast<int>((t_state >> 16) & 0x7FFFu);
}

}  // namespace rondel
