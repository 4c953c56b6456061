#include "row_writer.h"

namespace venuedb {

RowWriter::RowWriter(sqlite3* db, const char* sql) : db_(db), sql_(sql) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr);
  stmt_.reset(raw);
  if (rc != SQLITE_OK) Fail("prepare");
}

void RowWriter::Fail(const char* what) {
  if (!error_.empty()) return;
  error_ =
      std::string(what) + " failed: " + sqlite3_errmsg(db_) + " in: " + sql_;
}

RowWriter& RowWriter::Int(int position, int64_t value) {
  if (ok() && sqlite3_bind_int64(stmt_.get(), position, value) != SQLITE_OK)
    Fail("bind");
  return *this;
}

RowWriter& RowWriter::Text(int position, const std::string& text) {
  if (ok() && sqlite3_bind_text(stmt_.get(), position, text.data(),
                                static_cast<int>(text.size()),
                                SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail("bind");
  }
  return *this;
}

RowWriter& RowWriter::Null(int position) {
  if (ok() && sqlite3_bind_null(stmt_.get(), position) != SQLITE_OK)
    Fail("bind");
  return *this;
}

void RowWriter::Run() {
  if (!ok()) return;
  int rc;
  do {
    rc = sqlite3_step(stmt_.get());
  } while (rc == SQLITE_ROW);
  if (rc != SQLITE_DONE) Fail("step");
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

bool RowWritersOk(std::initializer_list<const RowWriter*> writers,
                  std::string* error) {
  for (const RowWriter* writer : writers) {
    if (!writer->ok()) {
      *error = writer->error();
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
