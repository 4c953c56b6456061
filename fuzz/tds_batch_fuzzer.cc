// A SQL batch: ALL_HEADERS, then UTF-16LE text, read statement by statement
// (use, set, exec with its arguments, the session's transaction statements,
// and SQLite's own statements, prepared but never run). The input is the
// message's payload (packet headers stripped) from a TDS 7.2+ client.
#include <string>

#include "batch.h"
#include "fuzz_target.h"
#include "tds_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  rondel::fuzz::WalkBatch(
      venuedb::BatchSqlText(payload, true, &rondel::fuzz::TdsCharset()));
  return 0;
}
