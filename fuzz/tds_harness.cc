#include "tds_harness.h"

#include <sqlite3.h>

#include "batch.h"
#include "embedded_sql.h"
#include "fuzz_target.h"
#include "globals.h"
#include "store.h"
#include "transaction.h"

namespace rondel {
namespace fuzz {

namespace {

// Statements per batch: enough for any seed and its mutations, and a bound on
// the time one input may take.
constexpr int kMaxStatements = 256;

// What a session answers for @@TRANCOUNT and @@SPID.
class NoSession : public venuedb::GlobalValues {
 public:
  int TransactionCount() const override { return 0; }
  int ProcessId() const override { return 51; }
};

sqlite3* SchemaDatabase() {
  static sqlite3* db = [] {
    sqlite3* opened = nullptr;
    FUZZ_CHECK(sqlite3_open(":memory:", &opened) == SQLITE_OK);
    const std::string schema(reinterpret_cast<const char*>(venuedb::kSchemaSql),
                             venuedb::kSchemaSqlSize);
    FUZZ_CHECK(sqlite3_exec(opened, venuedb::kSystemTablesSql, nullptr, nullptr,
                            nullptr) == SQLITE_OK);
    FUZZ_CHECK(sqlite3_exec(opened, schema.c_str(), nullptr, nullptr,
                            nullptr) == SQLITE_OK);
    static const NoSession session;
    venuedb::DefineGlobals(opened, &session);
    return opened;
  }();
  return db;
}

}  // namespace

venuedb::Charset& TdsCharset() {
  static venuedb::Charset* charset = new venuedb::Charset;
  return *charset;
}

void WalkBatch(const std::string& sql) {
  // RunBatch refuses a text holding a NUL before reading any statement.
  if (sql.find('\0') != std::string::npos) return;
  sqlite3* db = SchemaDatabase();
  size_t pos = venuedb::SkipBatchBlanks(sql, 0);
  for (int n = 0; n < kMaxStatements && pos < sql.size(); ++n) {
    const venuedb::SessionStatement own =
        venuedb::ReadSessionStatement(sql, pos);
    if (own.kind != venuedb::SessionStatement::kNone) {
      FUZZ_CHECK(own.end > pos && own.end <= sql.size());
      pos = venuedb::SkipBatchBlanks(sql, own.end);
      continue;
    }
    venuedb::BatchStatement statement;
    if (!venuedb::ReadBatchStatement(sql, pos, &statement)) {
      FUZZ_CHECK(statement.error_number != 0);
      return;
    }
    if (statement.kind != venuedb::BatchStatement::kSql) {
      FUZZ_CHECK(statement.end > pos && statement.end <= sql.size());
      pos = venuedb::SkipBatchBlanks(sql, statement.end);
      continue;
    }
    sqlite3_stmt* prepared = nullptr;
    size_t next = sql.size();
    const int rc =
        venuedb::PrepareBatchStatement(db, sql, pos, &prepared, &next);
    sqlite3_finalize(prepared);
    if (rc != SQLITE_OK) return;
    if (next <= pos || next > sql.size()) return;  // RunBatch refuses it too
    pos = venuedb::SkipBatchBlanks(sql, next);
  }
}

}  // namespace fuzz
}  // namespace rondel
