// The seeder's pseudo-random generator. Seeding must give the same venue on
// every machine and with every standard library, so the generator and the ways
// of drawing from it are written out here rather than taken from <random>'s
// distributions.
#ifndef VENUEDB_SEED_SEED_RANDOM_H_
#define VENUEDB_SEED_SEED_RANDOM_H_

#include <cstdint>

namespace venuedb {

// SplitMix64: a 64-bit state advanced by a fixed odd constant and mixed on
// output.
class SeedRandom {
 public:
  explicit SeedRandom(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // A value in [0, n). REQUIRES: n > 0. The bias of the modulo is below 2^-32
  // for the sizes the seeder draws, which is of no consequence for sample data.
  int Below(int n) {
    return static_cast<int>(Next() % static_cast<uint64_t>(n));
  }

  // A value in [low, high]. REQUIRES: low <= high.
  int Between(int low, int high) { return low + Below(high - low + 1); }

 private:
  uint64_t state_;
};

}  // namespace venuedb

#endif  // VENUEDB_SEED_SEED_RANDOM_H_
