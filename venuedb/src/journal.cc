#include "journal.h"

#include <time.h>

#include <cstdio>

namespace venuedb {

namespace {

void Bind(sqlite3_stmt* stmt, int index, const Value& v) {
  switch (v.kind) {
    case Value::kNull:
      sqlite3_bind_null(stmt, index);
      break;
    case Value::kInt:
      sqlite3_bind_int64(stmt, index, v.integer);
      break;
    case Value::kReal:
      sqlite3_bind_double(stmt, index, v.real);
      break;
    case Value::kText:
      sqlite3_bind_text(stmt, index, v.text.data(),
                        static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
      break;
  }
}

}  // namespace

int64_t NowMicros() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool Journal::Run(const char* sql, const std::vector<Value>& args) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                         nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "venuedb: journal: %s\n", sqlite3_errmsg(db_));
    return false;
  }
  for (size_t i = 0; i < args.size(); ++i)
    Bind(stmt, static_cast<int>(i + 1), args[i]);
  int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "venuedb: journal: %s\n", sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

int64_t Journal::OpenConnection(const std::string& peer) {
  if (!Run("INSERT INTO vdb_connections(opened_us, peer) VALUES(?1, ?2)",
           {Value::Int(NowMicros()), Value::Text(peer)})) {
    return 0;
  }
  return sqlite3_last_insert_rowid(db_);
}

void Journal::SetLogin(int64_t conn_id, const std::string& login,
                       const std::string& password, const std::string& app,
                       const std::string& host, const std::string& database,
                       const std::string& tds_version, int64_t packet_size,
                       bool refused) {
  Run("UPDATE vdb_connections SET login=?2, password=?3, app=?4, host=?5, "
      "database=?6, "
      "tds_version=?7, packet_size=?8, refused=?9 WHERE conn_id=?1",
      {Value::Int(conn_id), Value::Text(login), Value::Text(password),
       Value::Text(app), Value::Text(host), Value::Text(database),
       Value::Text(tds_version), Value::Int(packet_size),
       Value::Int(refused ? 1 : 0)});
}

void Journal::SetDatabase(int64_t conn_id, const std::string& database) {
  Run("UPDATE vdb_connections SET database=?2 WHERE conn_id=?1",
      {Value::Int(conn_id), Value::Text(database)});
}

void Journal::CloseConnection(int64_t conn_id) {
  Run("UPDATE vdb_connections SET closed_us=?2 WHERE conn_id=?1",
      {Value::Int(conn_id), Value::Int(NowMicros())});
}

int64_t Journal::Record(int64_t conn_id, const std::string& kind,
                        const std::string& login, const std::string& text,
                        bool ok, const std::vector<JournalParam>& params) {
  // One transaction, so a reader sees the request and its parameters together.
  if (!params.empty())
    sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  int64_t id = 0;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(
          db_,
          "INSERT INTO vdb_journal(conn_id, at_us, kind, login, text, ok) "
          "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
          -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) == SQLITE_OK) {
    Bind(stmt, 1, Value::Int(conn_id));
    Bind(stmt, 2, Value::Int(NowMicros()));
    Bind(stmt, 3, Value::Text(kind));
    Bind(stmt, 4, Value::Text(login));
    Bind(stmt, 5, Value::Text(text));
    Bind(stmt, 6, Value::Int(ok ? 1 : 0));
    if (sqlite3_step(stmt) == SQLITE_DONE) id = sqlite3_last_insert_rowid(db_);
    sqlite3_finalize(stmt);
  }
  if (id == 0)
    std::fprintf(stderr, "venuedb: journal: %s\n", sqlite3_errmsg(db_));
  if (id != 0 && !params.empty()) {
    if (sqlite3_prepare_v3(
            db_,
            "INSERT INTO vdb_journal_params(journal_id, ordinal, name, type, "
            "type_code, output, max_length, is_null, value) "
            "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
            -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) == SQLITE_OK) {
      for (size_t i = 0; i < params.size(); ++i) {
        const JournalParam& p = params[i];
        Bind(stmt, 1, Value::Int(id));
        Bind(stmt, 2, Value::Int(static_cast<int64_t>(i + 1)));
        Bind(stmt, 3, Value::Text(p.name));
        Bind(stmt, 4, Value::Text(p.type));
        Bind(stmt, 5, Value::Int(p.type_code));
        Bind(stmt, 6, Value::Int(p.output ? 1 : 0));
        Bind(stmt, 7, Value::Int(p.max_length));
        Bind(stmt, 8, Value::Int(p.value.is_null() ? 1 : 0));
        Bind(stmt, 9, p.value);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
      }
      sqlite3_finalize(stmt);
    }
  }
  if (!params.empty()) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  return id;
}

}  // namespace venuedb
