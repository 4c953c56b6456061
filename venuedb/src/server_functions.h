// The SQL Server functions that say what a database is, which a client asks
// before it reads texts (which code page its collation keeps them in):
//   DB_NAME()                          the session's current database
//   DATABASEPROPERTYEX(name, 'Collation')  the database's default collation
//   COLLATIONPROPERTY(name, 'CodePage')    936, 1252, ...; 'LCID' the locale
// Any other property, and a collation this server does not know, give NULL,
// as SQL Server answers them.
#ifndef VENUEDB_SRC_SERVER_FUNCTIONS_H_
#define VENUEDB_SRC_SERVER_FUNCTIONS_H_

#include <sqlite3.h>

#include <functional>
#include <string>

namespace venuedb {

// Defines the functions above on db. `database_name` answers DB_NAME(); it is
// kept with db's functions and destroyed with them.
void DefineServerFunctions(sqlite3* db,
                           std::function<std::string()> database_name);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SERVER_FUNCTIONS_H_
