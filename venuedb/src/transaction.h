// A client's transaction as SQL Server shows it: BEGIN TRAN nests and counts
// (@@TRANCOUNT), the outermost COMMIT commits, ROLLBACK undoes everything (or
// back to a SAVE TRAN point), and a TDS 7.2+ client learns of each through an
// ENVCHANGE token:
//   offset size meaning
//   0      1    0xE3 ENVCHANGE
//   1      2    length of what follows: 11
//   3      1    type: 8 begin, 9 commit, 10 rollback
//   4      1+8  new value: 8 and the transaction descriptor (begin), else 0
//   13/5   1+8  old value: 0 (begin), else 8 and the descriptor
// The transaction itself is SQLite's, on the session's own handle, begun
// deferred: it takes the database's write lock only at its first write, so a
// client that opens a transaction and only reads blocks nobody.
#ifndef VENUEDB_SRC_TRANSACTION_H_
#define VENUEDB_SRC_TRANSACTION_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "charset.h"
#include "wire.h"

namespace venuedb {

// An error for the client: SQL Server's number and text.
struct ClientError {
  int32_t number = 0;
  std::string message;
};

class ClientTransaction {
 public:
  explicit ClientTransaction(sqlite3* db) : db_(db) {}
  ClientTransaction(const ClientTransaction&) = delete;
  ClientTransaction& operator=(const ClientTransaction&) = delete;

  // @@TRANCOUNT: 0 outside a transaction.
  int count() const { return count_; }

  // Each appends its ENVCHANGE to w when the transaction starts or ends and
  // tds72 is true. Returns false with the error for the client.
  bool Begin(ByteWriter* w, bool tds72, ClientError* error);
  // name: empty, or the transaction's name (ignored, as SQL Server does).
  bool Commit(ByteWriter* w, bool tds72, ClientError* error);
  // name: a SAVE TRAN point rolls back to it and keeps the transaction; empty
  // or any other name rolls back everything.
  bool Rollback(const std::string& name, ByteWriter* w, bool tds72,
                ClientError* error);
  bool Save(const std::string& name, ClientError* error);

  // SQLite ends a transaction by itself after some errors, and a client may
  // run SQLite's own BEGIN or COMMIT; called after every request so that
  // count() follows the handle.
  void Follow();
  // Rolls back what is open (the connection is closing). Returns whether there
  // was anything.
  bool RollBackOpen();

 private:
  void PutEnvChange(ByteWriter* w, uint8_t type) const;
  bool Exec(const std::string& sql, ClientError* error);

  sqlite3* db_;
  int count_ = 0;
  uint64_t descriptor_ = 0;
  std::vector<std::string> savepoints_;
};

// A statement the session answers itself rather than SQLite, read at sql[pos]
// (a statement's first word, blanks already skipped):
//   BEGIN {TRAN | TRANSACTION} [name]
//   COMMIT [TRAN | TRANSACTION [name] | WORK]
//   ROLLBACK [TRAN | TRANSACTION [name] | WORK]
//   SAVE {TRAN | TRANSACTION} name
//   IF @@TRANCOUNT > 0 {COMMIT | ROLLBACK} ...   (only when one is open)
//   SET IMPLICIT_TRANSACTIONS {ON | OFF}
//   SET LOCK_TIMEOUT milliseconds                (-1: the server's bound)
// Words in any case. kind is kNone for anything else, with word set to the
// statement's first word in lower case.
struct SessionStatement {
  enum Kind {
    kNone,
    kBegin,
    kCommit,
    kRollback,
    kSave,
    kImplicitTransactions,
    kLockTimeout,
  };
  Kind kind = kNone;
  bool only_if_open = false;  // IF @@TRANCOUNT > 0
  std::string name;           // transaction or save point name
  int64_t number = 0;         // ON = 1 / OFF = 0; the lock timeout
  std::string word;
  size_t end = 0;  // just after the statement
};

SessionStatement ReadSessionStatement(const std::string& sql, size_t pos);

// Transaction manager request types (packet 0x0E).
enum TransactionRequestType : uint16_t {
  kTmGetDtcAddress = 0,
  kTmPropagate = 1,
  kTmBegin = 5,
  kTmPromote = 6,
  kTmCommit = 7,
  kTmRollback = 8,
  kTmSave = 9,
};

// A transaction manager request as read from its payload (headers stripped):
//   ALL_HEADERS      TDS 7.2+ only: its 4-byte total length, then skipped
//   type             2 bytes
//   BEGIN            isolation level (1 byte), name
//   COMMIT/ROLLBACK  name, flags (1 byte; 0x01 begins a new transaction,
//                    then its isolation level and name follow)
//   SAVE             name
// A name is B_VARCHAR: a length in UTF-16 units (1 byte), then UTF-16LE.
// The distributed requests (0, 1, 6) and unknown types read nothing more.
struct TransactionManagerRequest {
  uint16_t type = 0;
  // "begin", "commit", "rollback", "save", "distributed" or "unknown".
  const char* what = "unknown";
  std::string name;  // GB18030 bytes
  bool begin_after = false;
  bool complete = false;  // false when the payload ended early
};

TransactionManagerRequest ReadTransactionManagerRequest(
    const std::string& payload, bool tds72, Charset* charset);

}  // namespace venuedb

#endif  // VENUEDB_SRC_TRANSACTION_H_
