// Owners of SQLite's handles: a database connection closed, a prepared
// statement finalized, when its owner goes out of scope.
#ifndef VENUEDB_SRC_SQLITE_HANDLES_H_
#define VENUEDB_SRC_SQLITE_HANDLES_H_

#include <sqlite3.h>

#include <memory>

namespace venuedb {

// Closes with sqlite3_close: every statement prepared on the connection must
// have been finalized first (declare a Statement after the DbHandle it runs
// on, so that it goes first).
struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

// Closes with sqlite3_close_v2: a statement still unfinalized keeps the
// connection until it is finalized, instead of leaving it open for good. For
// the handles a server holds for a long time (a connection's, the journal's).
struct DeferredDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DeferredDbHandle = std::unique_ptr<sqlite3, DeferredDbCloser>;

// The same connection, closed with sqlite3_close_v2 from now on.
inline DeferredDbHandle DeferClose(DbHandle db) {
  return DeferredDbHandle(db.release());
}

// Owns a prepared statement. A client that goes away in the middle of a result
// surfaces as ChannelClosed thrown out of the row loop; the statement must be
// finalized on that path too, or the connection's handle can never close.
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Prepares sql (its first statement) on db with sqlite3_prepare_v3 and flags;
// 0 prepares as sqlite3_prepare_v2 does. Returns null when SQLite refuses it
// (sqlite3_errmsg(db) says why) and when sql holds no statement at all, so it
// suits a statement written in the program; a caller that must tell those two
// apart calls sqlite3_prepare_v3 and owns the result in a Statement.
inline Statement Prepare(sqlite3* db, const char* sql, unsigned int flags = 0) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v3(db, sql, -1, flags, &raw, nullptr);
  return Statement(raw);
}

}  // namespace venuedb

#endif  // VENUEDB_SRC_SQLITE_HANDLES_H_
