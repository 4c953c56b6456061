// Refusing a value written to a table's column that does not fit its
// declared SQL Server type (tinyint, smallint, int, bigint, numeric(p,s),
// decimal, money, smallmoney), as SQL Server refuses it instead of storing it:
// each connection keeps TEMP triggers (BEFORE INSERT and BEFORE UPDATE OF the
// column) that fail the statement with SQL Server's message (see
// WriteOverflow in sql_types.h). A column declared INTEGER (SQLite's own
// spelling, which venuedb's schema uses for its keys) is not checked.
#ifndef VENUEDB_SRC_RANGE_CHECKS_H_
#define VENUEDB_SRC_RANGE_CHECKS_H_

#include <sqlite3.h>

#include <string>

#include "sql_types.h"

namespace venuedb {

// Installs this connection's checks, or renews them when the schema changed
// (or a rollback undid them) since the last call. Call before running a
// statement that writes; a statement already prepared re-prepares itself.
// Best effort: a check that cannot be installed leaves the write unchecked.
void EnsureRangeChecks(sqlite3* db);

// Whether SQLite's message for a failed statement is one of these refusals;
// *error gets SQL Server's number (220 or 8115) and text.
bool RangeCheckError(const std::string& sqlite_message, SqlError* error);

}  // namespace venuedb

#endif  // VENUEDB_SRC_RANGE_CHECKS_H_
