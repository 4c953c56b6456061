#include "journal.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace venuedb {

namespace {

const char kJournalTablesSql[] = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=NORMAL;
CREATE TABLE IF NOT EXISTS vdb_connections(
  conn_id INTEGER PRIMARY KEY, opened_us INTEGER, closed_us INTEGER, peer TEXT, login TEXT,
  password TEXT, app TEXT, host TEXT, database TEXT, tds_version TEXT, packet_size INTEGER,
  refused INTEGER DEFAULT 0);
CREATE TABLE IF NOT EXISTS vdb_journal(
  id INTEGER PRIMARY KEY AUTOINCREMENT, conn_id INTEGER, at_us INTEGER, kind TEXT,
  login TEXT, text BLOB, ok INTEGER, outcome TEXT, ended_us INTEGER);
CREATE TABLE IF NOT EXISTS vdb_journal_params(
  journal_id INTEGER, ordinal INTEGER, name TEXT, type TEXT, type_code INTEGER,
  output INTEGER, max_length INTEGER, is_null INTEGER, value BLOB);
CREATE INDEX IF NOT EXISTS vdb_journal_params_by_journal ON vdb_journal_params(journal_id);
)sql";

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kCancelled:
      return "cancelled";
    case Outcome::kAbandoned:
      return "abandoned";
  }
  return "failed";
}

// Only this server writes the journal, through one handle under a lock; a
// reader (a test, the sqlite3 shell) can still hold the file for a moment
// while the WAL is recovered or checkpointed. Wait for it rather than lose a
// row.
int BusyWait(void*, int attempt) {
  constexpr int kLimitAttempts = 60 * 1000;  // about a minute in 1 ms steps
  if (attempt >= kLimitAttempts) return 0;
  usleep(attempt < 10 ? 50 : 1000);
  return 1;
}

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

std::unique_ptr<Journal> Journal::Open(const std::string& path,
                                       std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
      nullptr);
  DbHandle owned(db);
  char* message = nullptr;
  if (rc == SQLITE_OK) {
    sqlite3_busy_handler(db, BusyWait, nullptr);
    rc = sqlite3_exec(db, kJournalTablesSql, nullptr, nullptr, &message);
  }
  if (rc != SQLITE_OK) {
    *error = path + ": " +
             (message ? message
              : db    ? sqlite3_errmsg(db)
                      : sqlite3_errstr(rc));
    sqlite3_free(message);
    return nullptr;
  }
  return std::unique_ptr<Journal>(new Journal(DeferClose(std::move(owned))));
}

Journal::~Journal() = default;

bool Journal::Run(const char* sql, const std::vector<Value>& args) {
  Statement stmt = Prepare(db_.get(), sql, SQLITE_PREPARE_PERSISTENT);
  if (!stmt) {
    std::fprintf(stderr, "venuedb: journal: %s\n", sqlite3_errmsg(db_.get()));
    return false;
  }
  for (size_t i = 0; i < args.size(); ++i)
    Bind(stmt.get(), static_cast<int>(i + 1), args[i]);
  int rc = sqlite3_step(stmt.get());
  stmt.reset();
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "venuedb: journal: %s\n", sqlite3_errmsg(db_.get()));
    return false;
  }
  return true;
}

int64_t Journal::OpenConnection(const std::string& peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_ ||
      !Run("INSERT INTO vdb_connections(opened_us, peer) VALUES(?1, ?2)",
           {Value::Int(NowMicros()), Value::Text(peer)})) {
    return 0;
  }
  const int64_t conn_id = sqlite3_last_insert_rowid(db_.get());
  open_[conn_id];
  return conn_id;
}

void Journal::SetLogin(int64_t conn_id, const std::string& login,
                       const std::string& password, const std::string& app,
                       const std::string& host, const std::string& database,
                       const std::string& tds_version, int64_t packet_size,
                       bool refused) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_) return;
  if (auto open = open_.find(conn_id); open != open_.end())
    open->second = login;
  Run("UPDATE vdb_connections SET login=?2, password=?3, app=?4, host=?5, "
      "database=?6, tds_version=?7, packet_size=?8, refused=?9 "
      "WHERE conn_id=?1",
      {Value::Int(conn_id), Value::Text(login), Value::Text(password),
       Value::Text(app), Value::Text(host), Value::Text(database),
       Value::Text(tds_version), Value::Int(packet_size),
       Value::Int(refused ? 1 : 0)});
}

void Journal::SetDatabase(int64_t conn_id, const std::string& database) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_) return;
  Run("UPDATE vdb_connections SET database=?2 WHERE conn_id=?1",
      {Value::Int(conn_id), Value::Text(database)});
}

void Journal::WriteClose(int64_t conn_id, const std::string& login,
                         const std::string& reason, bool refused) {
  const int64_t now = NowMicros();
  Run("INSERT INTO vdb_journal(conn_id, at_us, kind, login, text, ok, "
      "outcome, ended_us) VALUES(?1, ?2, 'close', ?3, ?4, 1, 'ok', ?2)",
      {Value::Int(conn_id), Value::Int(now), Value::Text(login),
       Value::Text(reason)});
  Run(refused ? "UPDATE vdb_connections SET closed_us=?2, refused=1 "
                "WHERE conn_id=?1"
              : "UPDATE vdb_connections SET closed_us=?2 WHERE conn_id=?1",
      {Value::Int(conn_id), Value::Int(now)});
}

void Journal::CloseConnection(int64_t conn_id, const std::string& login,
                              const std::string& reason, bool refused) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_ || open_.erase(conn_id) == 0) return;
  sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  WriteClose(conn_id, login, reason, refused);
  sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
}

void Journal::Seal(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_) return;
  sealed_ = true;
  // One transaction: a stop with hundreds of sessions left writes in one go.
  sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  const int64_t now = NowMicros();
  for (int64_t id : running_) {
    Run("UPDATE vdb_journal SET outcome='abandoned', ok=0, ended_us=?2 "
        "WHERE id=?1",
        {Value::Int(id), Value::Int(now)});
  }
  for (const auto& [conn_id, login] : open_)
    WriteClose(conn_id, login, reason, false);
  sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  running_.clear();
  open_.clear();
}

int64_t Journal::Insert(int64_t conn_id, const std::string& kind,
                        const std::string& login, const std::string& text,
                        const std::vector<JournalParam>& params) {
  // One transaction, so a reader sees the request and its parameters together.
  if (!params.empty())
    sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  int64_t id = 0;
  if (Run("INSERT INTO vdb_journal(conn_id, at_us, kind, login, text, outcome) "
          "VALUES(?1, ?2, ?3, ?4, ?5, 'running')",
          {Value::Int(conn_id), Value::Int(NowMicros()), Value::Text(kind),
           Value::Text(login), Value::Text(text)})) {
    id = sqlite3_last_insert_rowid(db_.get());
  }
  for (size_t i = 0; id != 0 && i < params.size(); ++i) {
    const JournalParam& p = params[i];
    Run("INSERT INTO vdb_journal_params(journal_id, ordinal, name, type, "
        "type_code, output, max_length, is_null, value) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
        {Value::Int(id), Value::Int(static_cast<int64_t>(i + 1)),
         Value::Text(p.name), Value::Text(p.type), Value::Int(p.type_code),
         Value::Int(p.output ? 1 : 0), Value::Int(p.max_length),
         Value::Int(p.value.is_null() ? 1 : 0), p.value});
  }
  if (!params.empty())
    sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  return id;
}

int64_t Journal::Begin(int64_t conn_id, const std::string& kind,
                       const std::string& login, const std::string& text,
                       const std::vector<JournalParam>& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_) return 0;
  const int64_t id = Insert(conn_id, kind, login, text, params);
  if (id != 0) running_.insert(id);
  return id;
}

void Journal::End(int64_t id, Outcome outcome) {
  if (id == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_ || running_.erase(id) == 0) return;
  Run("UPDATE vdb_journal SET outcome=?2, ok=?3, ended_us=?4 WHERE id=?1",
      {Value::Int(id), Value::Text(OutcomeName(outcome)),
       Value::Int(outcome == Outcome::kOk ? 1 : 0), Value::Int(NowMicros())});
}

void Journal::Forget(int64_t id) {
  if (id == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (sealed_ || running_.erase(id) == 0) return;
  Run("DELETE FROM vdb_journal WHERE id=?1", {Value::Int(id)});
}

int64_t Journal::Record(int64_t conn_id, const std::string& kind,
                        const std::string& login, const std::string& text,
                        Outcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t id = 0;
  if (!sealed_ &&
      Run("INSERT INTO vdb_journal(conn_id, at_us, kind, login, text, ok, "
          "outcome, ended_us) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?2)",
          {Value::Int(conn_id), Value::Int(NowMicros()), Value::Text(kind),
           Value::Text(login), Value::Text(text),
           Value::Int(outcome == Outcome::kOk ? 1 : 0),
           Value::Text(OutcomeName(outcome))})) {
    id = sqlite3_last_insert_rowid(db_.get());
  }
  return id;
}

}  // namespace venuedb
