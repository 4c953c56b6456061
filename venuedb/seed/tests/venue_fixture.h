// Seeded venue databases for the seeder's tests: in memory, holding schema.sql
// from the source tree, read back with SQLite alone.
#ifndef VENUEDB_SEED_TESTS_VENUE_FIXTURE_H_
#define VENUEDB_SEED_TESTS_VENUE_FIXTURE_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../src/sqlite_handles.h"
#include "../seed_options.h"
#include "../venue_seeder.h"

namespace venuedb {

// One value of a query, typed as SQLite holds it.
struct Cell {
  enum Kind { kNull, kInt, kText } kind = kNull;
  int64_t number = 0;
  std::string text;

  static Cell Int(int64_t n) { return Cell{kInt, n, ""}; }
  static Cell Text(std::string t) { return Cell{kText, 0, std::move(t)}; }
  static Cell Null() { return Cell{}; }
};

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
