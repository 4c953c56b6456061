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

namespace {

// The session's own statements as a session reads them; nothing else of a
// host is reached by a walk that only reads.
class ReadingHost : public venuedb::BatchHost {
 public:
  venuedb::BatchSettings* settings() override { return &settings_; }
  bool UseDatabase(const std::string&, std::string*, std::string*) override {
    return false;
  }
  bool OwnStatement(const std::string& sql, size_t pos, size_t* end, int32_t*,
                    std::string*) override {
    const venuedb::SessionStatement own =
        venuedb::ReadSessionStatement(sql, pos);
    if (own.kind == venuedb::SessionStatement::kNone) return false;
    FUZZ_CHECK(own.end > pos && own.end <= sql.size());
    *end = own.end;
    return true;
  }

 private:
  venuedb::BatchSettings settings_;
};

// The server's statement loop with steps that check what they are given and
// run nothing: every statement read ends after it starts and within the text.
class ReadingWalk : public venuedb::BatchWalk {
 public:
  using BatchWalk::BatchWalk;

 private:
  bool HostStatement(int32_t, const std::string&) override { return More(); }
  bool Unreadable(const venuedb::BatchStatement& st) override {
    FUZZ_CHECK(st.error_number != 0);
    return false;
  }
  bool Use(const venuedb::BatchStatement& st) override { return Read(st); }
  bool Set(const venuedb::BatchStatement& st) override { return Read(st); }
  bool Exec(venuedb::BatchStatement* st) override { return Read(*st); }
  bool PrepareFailed() override { return false; }
  bool NothingConsumed() override { return false; }  // RunBatch refuses it too
  bool Prepared(venuedb::Statement, const std::string&) override {
    return More();
  }

  bool Read(const venuedb::BatchStatement& st) {
    FUZZ_CHECK(st.end > statement_start() && st.end <= sql().size());
    return More();
  }
  // A bound on the time one input may take.
  bool More() { return ++taken_ < kMaxStatements; }

  int taken_ = 0;
};

}  // namespace

void WalkBatch(const std::string& sql) {
  // RunBatch refuses a text holding a NUL before reading any statement.
  if (sql.find('\0') != std::string::npos) return;
  ReadingHost host;
  ReadingWalk(SchemaDatabase(), &host, sql)
      .Walk(venuedb::SkipBatchBlanks(sql, 0));
}

}  // namespace fuzz
}  // namespace rondel
