// Writes rows through one prepared SQLite statement, as the seeder does: bind
// the values of one row by position, Run, repeat. The first failure is kept and
// every later call is a no-op, so a seeding step checks ok() once at its end.
#ifndef VENUEDB_SEED_ROW_WRITER_H_
#define VENUEDB_SEED_ROW_WRITER_H_

#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "../src/sqlite_handles.h"

namespace venuedb {

class RowWriter {
 public:
  // Prepares sql on db. REQUIRES: db outlives the statement.
  RowWriter(sqlite3* db, const char* sql);
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // Binders take the 1-based parameter position and return *this for chaining.
  RowWriter& Int(int position, int64_t value);
  // Binds the bytes of text exactly (explicit length), whatever their encoding.
  RowWriter& Text(int position, const std::string& text);
  RowWriter& Null(int position);

  // Steps the statement to its end, then resets it and clears its bindings.
  void Run();

  bool ok() const { return error_.empty(); }
  // The first error, naming the statement; empty when all went well.
  const std::string& error() const { return error_; }

 private:
  void Fail(const char* what);

  sqlite3* db_;
  Statement stmt_;
  std::string sql_;
  std::string error_;
};

// True when every writer is ok; otherwise false with the first error in
// *error.
bool RowWritersOk(std::initializer_list<const RowWriter*> writers,
                  std::string* error);

// Runs one statement without rows (BEGIN, COMMIT, a pragma). Returns false with
// a message.
bool Execute(sqlite3* db, const char* sql, std::string* error);

}  // namespace venuedb

#endif  // VENUEDB_SEED_ROW_WRITER_H_
