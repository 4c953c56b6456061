// A prepared SQLite statement for writing rows, as the seeder uses it: bind the
// values of one row by position, Run, repeat. The first failure is kept and
// every later call is a no-op, so a seeding step checks ok() once at its end.
#ifndef VENUEDB_SEED_STATEMENT_H_
#define VENUEDB_SEED_STATEMENT_H_

#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace venuedb {

class Statement {
 public:
  // Prepares sql on db. REQUIRES: db outlives the statement.
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binders take the 1-based parameter position and return *this for chaining.
  Statement& Int(int position, int64_t value);
  // Binds the bytes of text exactly (explicit length), whatever their encoding.
  Statement& Text(int position, const std::string& text);
  Statement& Null(int position);

  // Steps the statement to its end, then resets it and clears its bindings.
  void Run();

  bool ok() const { return error_.empty(); }
  // The first error, naming the statement; empty when all went well.
  const std::string& error() const { return error_; }

 private:
  void Fail(const char* what);

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::string sql_;
  std::string error_;
};

// True when every statement is ok; otherwise false with the first error in
// *error.
bool StatementsOk(std::initializer_list<const Statement*> statements,
                  std::string* error);

// Runs one statement without rows (BEGIN, COMMIT, a pragma). Returns false with
// a message.
bool Execute(sqlite3* db, const char* sql, std::string* error);

}  // namespace venuedb

#endif  // VENUEDB_SEED_STATEMENT_H_
