// Test hooks for records/outbox.h. Only tests include this header (and
// outbox.cc, which defines them); the library never calls them itself.
#ifndef RONDEL_RECORDS_OUTBOX_TEST_HOOKS_H_
#define RONDEL_RECORDS_OUTBOX_TEST_HOOKS_H_

#include <cstddef>
#include <cstdint>

#include "records/outbox.h"

namespace rondel {

// Forgets the library's outbox: the next KeptPlays() composes its directory
// again, loads its file anew, holds at most `capacity` unsent plays and lets
// its rejected-plays file grow to at most `rejected_capacity` bytes.
// REQUIRES: the catalogue lock held.
void ResetKeptPlays(size_t capacity = kKeptPlaysCapacity,
                    uint64_t rejected_capacity = kRejectedCapacity);

}  // namespace rondel

#endif  // RONDEL_RECORDS_OUTBOX_TEST_HOOKS_H_
