// What the venuedb targets share: one Charset, and a batch's text read
// statement by statement as the server's RunBatch reads it, without running
// any of it.
#ifndef RONDEL_FUZZ_TDS_HARNESS_H_
#define RONDEL_FUZZ_TDS_HARNESS_H_

#include <string>

#include "charset.h"

namespace rondel {
namespace fuzz {

// The process's Charset (iconv handles are costly to open per input).
venuedb::Charset& TdsCharset();

// Walks `sql` through the server's own statement loop (venuedb::BatchWalk, the
// loop RunBatch runs): the session's own statements (ReadSessionStatement),
// then use, set and exec (ReadBatchStatement), and any other statement through
// SQLite's prepare on an in-memory database holding the venue schema (prepared,
// never stepped: nothing runs). Stops where RunBatch would stop with an error.
// Checks that every statement read ends after it starts and within the text
// (or the batch would never end).
void WalkBatch(const std::string& sql);

}  // namespace fuzz
}  // namespace rondel

#endif  // RONDEL_FUZZ_TDS_HARNESS_H_
