#include "store.h"

#include <unistd.h>

#include <vector>

#include "embedded_sql.h"
#include "journal.h"
#include "procedure_text.h"
#include "sqlite_handles.h"

namespace venuedb {

const char kSystemTablesSql[] = R"sql(
CREATE TABLE IF NOT EXISTS vdb_logins(
  name TEXT PRIMARY KEY COLLATE NOCASE,
  password TEXT NOT NULL DEFAULT '',
  default_database TEXT NOT NULL DEFAULT 'master');
CREATE TABLE IF NOT EXISTS vdb_databases(name TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS vdb_procedures(
  name TEXT PRIMARY KEY COLLATE NOCASE, params TEXT, body TEXT);
CREATE TABLE IF NOT EXISTS vdb_faults(kind TEXT, target TEXT, value INTEGER);
CREATE TABLE IF NOT EXISTS vdb_settings(
  name TEXT PRIMARY KEY COLLATE NOCASE, value TEXT);
)sql";

namespace {

bool Exec(sqlite3* db, const std::string& sql, const char* what,
          std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    *error = std::string(what) + ": " + (message ? message : "unknown error");
    sqlite3_free(message);
    return false;
  }
  return true;
}

// The schema file may carry "GO" separators like the procedures file; SQLite
// needs none.
std::string WithoutGoLines(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::string trimmed;
    for (char c : line) {
      if (c != ' ' && c != '\t' && c != '\r') trimmed.push_back(c);
    }
    if (trimmed != "GO" && trimmed != "go" && trimmed != "Go")
      out += line + "\n";
    start = end + 1;
  }
  return out;
}

bool InsertProcedures(sqlite3* db, std::string* error) {
  std::string text(reinterpret_cast<const char*>(kProceduresSql),
                   kProceduresSqlSize);
  std::vector<ProcedureText> procedures;
  if (!ParseProcedureFile(text, &procedures, error)) return false;
  Statement owned =
      Prepare(db, "INSERT OR REPLACE INTO vdb_procedures VALUES(?1, ?2, ?3)");
  if (!owned) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  sqlite3_stmt* insert = owned.get();
  bool ok = true;
  for (const ProcedureText& p : procedures) {
    sqlite3_bind_text(insert, 1, p.name.data(), static_cast<int>(p.name.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, p.params.data(),
                      static_cast<int>(p.params.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, p.body.data(), static_cast<int>(p.body.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(insert) != SQLITE_DONE) {
      *error = "procedure " + p.name + ": " + sqlite3_errmsg(db);
      ok = false;
      break;
    }
    sqlite3_reset(insert);
  }
  return ok;
}

// Waits for another connection's write in short steps: SQLite's own handler
// sleeps up to 100 ms at a time, far longer than any write of this server
// lasts.
int BusyWait(void*, int attempt) {
  constexpr int kStepMicros = 200;
  constexpr int kLimitMicros = 20 * 1000 * 1000;
  if (attempt * kStepMicros >= kLimitMicros) return 0;
  usleep(attempt < 10 ? 20 : kStepMicros);
  return 1;
}

}  // namespace

std::string JournalPath(const std::string& path) { return path + ".journal"; }

const char kLockTimeoutMessage[] = "Lock request time out period exceeded.";

bool IsLockTimeout(const std::string& sqlite_message) {
  return sqlite_message == sqlite3_errstr(SQLITE_BUSY);
}

DbHandle OpenDatabase(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  DbHandle db(raw);
  if (rc != SQLITE_OK) {
    *error = path + ": " + (db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc));
    return nullptr;
  }
  sqlite3_busy_handler(db.get(), BusyWait, nullptr);
  RegisterCollations(db.get());
  if (!Exec(db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
            "open", error)) {
    return nullptr;
  }
  return db;
}

const Collation* DatabaseCollation(sqlite3* db) {
  Statement owned =
      Prepare(db, "SELECT value FROM vdb_settings WHERE name='collation'");
  const Collation* found = nullptr;
  if (sqlite3_stmt* stmt = owned.get();
      stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(stmt, 0);
    if (name) found = FindCollation(reinterpret_cast<const char*>(name));
  }
  return found ? found : &kDefaultCollation;
}

bool InitDatabase(const std::string& path, std::string* error,
                  const Collation& collation) {
  for (const std::string& file : {path, JournalPath(path)}) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      unlink((file + suffix).c_str());
  }
  if (!Journal::Open(JournalPath(path), error)) return false;
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  DbHandle owned(raw);
  if (rc != SQLITE_OK) {
    *error = path + ": " + sqlite3_errmsg(raw);
    return false;
  }
  sqlite3* db = owned.get();
  RegisterCollations(db);
  std::string schema(reinterpret_cast<const char*>(kSchemaSql), kSchemaSqlSize);
  bool ok =
      Exec(db, "PRAGMA journal_mode=WAL; BEGIN;", "begin", error) &&
      Exec(db, kSystemTablesSql, "system tables", error) &&
      Exec(db, WithoutGoLines(schema), "schema.sql", error) &&
      InsertProcedures(db, error) &&
      Exec(
          db,
          "INSERT OR REPLACE INTO vdb_logins(name, password, default_database) "
          "VALUES('sa', '', 'master');"
          "INSERT OR REPLACE INTO vdb_databases(name) VALUES('master'), "
          "('karaok');",
          "logins", error) &&
      Exec(db,
           std::string("INSERT INTO vdb_settings(name, value) "
                       "VALUES('collation', '") +
               collation.name + "');",
           "settings", error) &&
      Exec(db, "COMMIT;", "commit", error);
  owned.reset();
  return ok;
}

}  // namespace venuedb
