// Test hooks for records/outbox.h. Only tests include this header (and
// outbox.cc, which defines them); the library never calls them itself.
#ifndef RONDEL_RECORDS_OUTBOX_TEST_HOOKS_H_
#define RONDEL_RECORDS_OUTBOX_TEST_HOOKS_H_

#include <cstddef>

#include "records/outbox.h"

namespace rondel {

// Forgets the library's outbox: the next KeptPlays() composes its directory
// again, loads its file anew and holds at most `capacity` unsent plays.
// REQUIRES: the catalogue lock held.
void ResetKeptPlays(size_t capacity = kKeptPlaysCapacity);

}  // namespace rondel

#endif  // RONDEL_RECORDS_OUTBOX_TEST_HOOKS_H_
