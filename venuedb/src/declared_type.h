// A table column's type as its CREATE TABLE wrote it. SQLite reports some
// type names in its own spelling (a column declared "text" reads back as
// "TEXT"); SQL Server's text and venuedb's own TEXT columns are told apart by
// how the declaration spelled them (sql_types.h).
#ifndef VENUEDB_SRC_DECLARED_TYPE_H_
#define VENUEDB_SRC_DECLARED_TYPE_H_

#include <sqlite3.h>

#include <string>

namespace venuedb {

// The type words of `column` in the CREATE TABLE text of `table` in schema
// `database` of db, as written ("text", "nvarchar(20)"); empty when the table
// or column is not found or has no type.
std::string DeclaredTypeAsWritten(sqlite3* db, const char* database,
                                  const char* table, const char* column);

// The type words of `column` in one CREATE TABLE text (for tests).
std::string TypeInCreateTable(const std::string& create_sql,
                              const std::string& column);

}  // namespace venuedb

#endif  // VENUEDB_SRC_DECLARED_TYPE_H_
