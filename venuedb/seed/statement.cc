#include "statement.h"

namespace venuedb {

Statement::Statement(sqlite3* db, const char* sql) : db_(db), sql_(sql) {
  if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK)
    Fail("prepare");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::Fail(const char* what) {
  if (!error_.empty()) return;
  error_ =
      std::string(what) + " failed: " + sqlite3_errmsg(db_) + " in: " + sql_;
}

Statement& Statement::Int(int position, int64_t value) {
  if (ok() && sqlite3_bind_int64(stmt_, position, value) != SQLITE_OK)
    Fail("bind");
  return *this;
}

Statement& Statement::Text(int position, const std::string& text) {
  if (ok() && sqlite3_bind_text(stmt_, position, text.data(),
                                static_cast<int>(text.size()),
                                SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail("bind");
  }
  return *this;
}

Statement& Statement::Null(int position) {
  if (ok() && sqlite3_bind_null(stmt_, position) != SQLITE_OK) Fail("bind");
  return *this;
}

void Statement::Run() {
  if (!ok()) return;
  int rc;
  do {
    rc = sqlite3_step(stmt_);
  } while (rc == SQLITE_ROW);
  if (rc != SQLITE_DONE) Fail("step");
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool StatementsOk(std::initializer_list<const Statement*> statements,
                  std::string* error) {
  for (const Statement* statement : statements) {
    if (!statement->ok()) {
      *error = statement->error();
      return false;
    }
  }
  return true;
}

bool Execute(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
    return true;
  *error = std::string(message ? message : "unknown error") + " in: " + sql;
  sqlite3_free(message);
  return false;
}

}  // namespace venuedb
