// The database file behind the server: creating a fresh one and opening handles
// on it.
#ifndef VENUEDB_SRC_STORE_H_
#define VENUEDB_SRC_STORE_H_

#include <sqlite3.h>

#include <string>

namespace venuedb {

// Creates a fresh database at path (an existing file there, with its -wal and
// -shm, is removed first): the system tables (logins, databases, procedures,
// connections, journal, faults), the venue schema and the procedures built into
// this program, the login "sa" with an empty password and the databases
// "karaok" and "master". The file is left in WAL mode. Returns false with a
// message in *error.
bool InitDatabase(const std::string& path, std::string* error);

// Opens a handle on an existing database for one connection (or one tool): WAL,
// a busy timeout, synchronous NORMAL. Returns nullptr with a message in *error.
sqlite3* OpenDatabase(const std::string& path, std::string* error);

// The system tables' definitions (also used by tests that build a database by
// hand).
extern const char kSystemTablesSql[];

}  // namespace venuedb

#endif  // VENUEDB_SRC_STORE_H_
