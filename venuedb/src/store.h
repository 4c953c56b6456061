// The database file behind the server: creating a fresh one and opening handles
// on it.
#ifndef VENUEDB_SRC_STORE_H_
#define VENUEDB_SRC_STORE_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "collation.h"
#include "sqlite_handles.h"

namespace venuedb {

// Creates a fresh database at path (an existing file there, with its -wal and
// -shm, is removed first): the system tables (logins, databases, procedures,
// faults), the venue schema and the procedures built into this program, the
// login "sa" with an empty password and the databases "karaok" and "master",
// the default collation (vdb_settings row 'collation'); and a fresh, empty
// journal at JournalPath(path). Both files are left in WAL mode. Returns false
// with a message in *error.
bool InitDatabase(const std::string& path, std::string* error,
                  const Collation& collation = kDefaultCollation);

// The journal file of the database at path: path + ".journal". A reader sees
// the journal tables beside the venue's with
//   ATTACH DATABASE 'venue.db.journal' AS journal;
// (unqualified names such as vdb_journal then find them).
std::string JournalPath(const std::string& path);

// Opens a handle on an existing database for one connection (or one tool): WAL,
// a busy timeout, synchronous NORMAL, the collations' names known to SQLite
// (RegisterCollations). The caller owns the handle. Returns null with a
// message in *error.
DbHandle OpenDatabase(const std::string& path, std::string* error);

// The database's default collation: vdb_settings' row 'collation'; the
// default when the file names none (a file older than the row, or one built
// by hand) or one this server does not know.
const Collation* DatabaseCollation(sqlite3* db);

// The system tables' definitions (also used by tests that build a database by
// hand). The journal's tables are the journal's (journal.h).
extern const char kSystemTablesSql[];

// The message SQLite gives a statement that waited out the lock timeout, and
// what SQL Server says instead (error 1222, class 16).
bool IsLockTimeout(const std::string& sqlite_message);
constexpr int32_t kLockTimeoutError = 1222;
extern const char kLockTimeoutMessage[];

}  // namespace venuedb

#endif  // VENUEDB_SRC_STORE_H_
