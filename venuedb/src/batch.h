// Running a SQL batch. The text (already GB18030 bytes) is taken statement by
// statement, as SQL Server takes it: a statement ends where the next one's
// first word begins, with or without ';' or a line between them.
//   use [name]        switches the current database (ENVCHANGE 1), or ERROR 911
//   set ...           SET option[, ...] ON|OFF, SET option value, SET
//                     TRANSACTION ISOLATION LEVEL ...: FMTONLY and NOCOUNT are
//                     honoured (BatchSettings), the host's own first, the
//                     others accepted and ignored
//   exec[ute] p args  runs a stored procedure; the arguments ("@name = value"
//                     or positional: integers, 'text', N'text', NULL,
//                     DEFAULT, a bare word as text; each may say OUTPUT) end
//                     at the first one not followed by ','
//   anything else     runs on SQLite as it stands; statements with columns send
//                     rows (with FMTONLY ON only their COLMETADATA, and
//                     statements without columns do not run)
// Each statement ends with DONE (count for rows and changes unless NOCOUNT is
// ON; "more" unless it is the last). The first error sends ERROR + DONE(error)
// and ends the batch.
#ifndef VENUEDB_SRC_BATCH_H_
#define VENUEDB_SRC_BATCH_H_

#include <sqlite3.h>

#include <string>
#include <vector>

#include "charset.h"
#include "reply.h"
#include "rpc_request.h"
#include "sqlite_handles.h"

namespace venuedb {

// The session's SET options a batch honours; they outlast the batch.
struct BatchSettings {
  bool fmtonly = false;  // SELECTs send their column metadata and no rows
  bool nocount = false;  // DONE tokens carry no row count
};

// What a batch needs from its session.
class BatchHost {
 public:
  virtual ~BatchHost() = default;
  virtual BatchSettings* settings() = 0;
  // Switches to the named database; on success sets *canonical to its stored
  // spelling and *previous to the former one. Records the attempt in the
  // journal either way.
  virtual bool UseDatabase(const std::string& name, std::string* canonical,
                           std::string* previous) = 0;
  // Offered every statement first (transactions, some SET options). Returns
  // false when the statement at sql[pos] is not the host's. Otherwise sets
  // *end just after it, has written its tokens but the DONE, and sets
  // *error_number (and *error_message) when it failed.
  virtual bool OwnStatement(const std::string& /*sql*/, size_t /*pos*/,
                            size_t* /*end*/, int32_t* /*error_number*/,
                            std::string* /*error_message*/) {
    return false;
  }
};

struct BatchOutcome {
  bool ok = true;  // no statement failed
  bool attention =
      false;  // stopped by an attention (the caller sends DONE 0x20)
  bool fault_close =
      false;  // the close_after_rows fault fired (the caller closes)
  bool only_use = false;  // the batch was a single "use" statement
};

// The SQL text of a batch payload (packet headers stripped): after the
// ALL_HEADERS block when tds72 (its stated length, bounded by the payload),
// the UTF-16LE text as GB18030 bytes.
std::string BatchSqlText(const std::string& payload, bool tds72,
                         Charset* charset);

// Where the statement after sql[pos] starts: past blanks, ';', "--" comments
// to the end of the line and "/* */" comments (an unclosed one runs to the
// end). sql.size() when nothing follows.
size_t SkipBatchBlanks(const std::string& sql, size_t pos);

// One statement of a batch as read, before anything of it runs.
struct BatchStatement {
  enum Kind {
    kUse,   // name: the database
    kSet,   // options, value
    kExec,  // name: the procedure; params: its arguments
    kSql,   // anything else: SQLite's prepare decides where it ends
  };
  Kind kind = kSql;
  std::string word;  // the first word, in lower case
  std::string name;
  std::vector<RpcParam> params;
  std::vector<std::string> options;  // kSet, in lower case
  std::string value;                 // kSet: on, off, a number, a word
  size_t end = 0;                    // just after the statement (kSql: pos)
  // A statement that cannot be read (an unclosed quote, an argument name
  // without '='): SQL Server's number and message.
  int32_t error_number = 0;
  std::string error_message;
};

// Reads the statement that starts at sql[pos] (blanks already skipped). False
// with error_number and error_message set when it cannot be read.
bool ReadBatchStatement(const std::string& sql, size_t pos,
                        BatchStatement* statement);

// A SQLite error as SQL Server reports its kind: 208 Invalid object name, 207
// Invalid column name, 195 unknown function, 102/156 Incorrect syntax, 2627
// duplicate key, 515 NULL into NOT NULL, 137 undeclared variable; anything
// else 50000 with SQLite's message.
struct ServerError {
  int32_t number = 0;
  uint8_t severity = 16;
  std::string message;
};
ServerError SqliteError(const std::string& message);
// SQL Server's severity for an error number venuedb sends from a batch.
uint8_t SeverityOf(int32_t number);

// Prepares the SQLite statement that starts at sql[pos] (blanks skipped), its
// @@ variables read through vdb_global() (globals.h); a statement may end
// without ';' before a word that starts the next one. Returns SQLite's code;
// *next is just after the statement in sql (a caller checks that it moved).
int PrepareBatchStatement(sqlite3* db, const std::string& sql, size_t pos,
                          sqlite3_stmt** stmt, size_t* next);

// The statement loop of a batch, as RunBatch takes it: from the first
// statement to the end, or to the first step that ends it. Each statement is
// offered to the host first (its own statements), then read
// (ReadBatchStatement) and handed to the step of its kind; SQL for SQLite is
// prepared here and handed over prepared. When a step is called, pos() is
// already past the statement (past the blanks after it). RunBatch runs what
// each step holds; the batch fuzz target walks the same loop with steps that
// only check what they are given.
class BatchWalk {
 public:
  BatchWalk(sqlite3* db, BatchHost* host, const std::string& sql)
      : db_(db), host_(host), sql_(sql) {}
  virtual ~BatchWalk() = default;
  BatchWalk(const BatchWalk&) = delete;
  BatchWalk& operator=(const BatchWalk&) = delete;

  // Walks from the statement at `from` (blanks already skipped); the number
  // of statements taken.
  int Walk(size_t from);

 protected:
  // Each step answers whether the batch goes on.
  // The host ran its own statement; error_number is 0 when it succeeded.
  virtual bool HostStatement(int32_t error_number,
                             const std::string& error_message) = 0;
  // ReadBatchStatement could not read the statement (its error is in `st`).
  virtual bool Unreadable(const BatchStatement& st) = 0;
  virtual bool Use(const BatchStatement& st) = 0;
  virtual bool Set(const BatchStatement& st) = 0;
  virtual bool Exec(BatchStatement* st) = 0;
  // SQLite refused to prepare the statement (sqlite3_errmsg says why).
  virtual bool PrepareFailed() = 0;
  // The prepare consumed nothing: pos() is still at the statement.
  virtual bool NothingConsumed() = 0;
  // A prepared statement (null for a text with nothing to run); `word` is its
  // first word in lower case.
  virtual bool Prepared(Statement stmt, const std::string& word) = 0;

  sqlite3* db() const { return db_; }
  BatchHost* host() const { return host_; }
  const std::string& sql() const { return sql_; }
  size_t pos() const { return pos_; }
  // Where the statement being taken began.
  size_t statement_start() const { return start_; }
  bool AtEnd() const { return pos_ >= sql_.size(); }

 private:
  bool NextStatement();
  bool Sql(const std::string& word);

  sqlite3* db_;
  BatchHost* host_;
  const std::string& sql_;
  size_t pos_ = 0;
  size_t start_ = 0;
};

// REQUIRES: no other statement of db is active. The caller ends the message.
BatchOutcome RunBatch(sqlite3* db, Reply* reply, BatchHost* host,
                      const std::string& sql);

}  // namespace venuedb

#endif  // VENUEDB_SRC_BATCH_H_
