// Seeded venue databases for the seeder's and the procedures' tests: in memory,
// holding schema.sql from the source tree.
#ifndef VENUEDB_SEED_TESTS_VENUE_FIXTURE_H_
#define VENUEDB_SEED_TESTS_VENUE_FIXTURE_H_

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "../seed_options.h"
#include "../venue_seeder.h"
#include "procedure_harness.h"

namespace venuedb {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

// The text of venuedb/sql/<name>; empty when it cannot be read.
std::string ReadSqlFile(const std::string& name);

// A fresh in-memory database with schema.sql applied, seeded with options.
// Fails the calling test (and returns what it has) when anything goes wrong.
DbHandle SeededVenue(const SeedOptions& options,
                     SeedSummary* summary = nullptr);

// Rows of a query, every cell typed as SQLite holds it.
std::vector<std::vector<Cell>> Query(sqlite3* db, const std::string& sql);
int64_t QueryInt(sqlite3* db, const std::string& sql);

// Every row of every table, in a form two databases can be compared by.
std::string DumpTables(sqlite3* db);

}  // namespace venuedb

#endif  // VENUEDB_SEED_TESTS_VENUE_FIXTURE_H_
