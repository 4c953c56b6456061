#include "faults.h"

#include "sqlite_handles.h"

namespace venuedb {

std::optional<int64_t> FindFault(sqlite3* db, const std::string& kind,
                                 const std::string& target) {
  Statement stmt = Prepare(db,
                           "SELECT value FROM vdb_faults WHERE kind=?1 AND "
                           "(target='*' OR target=?2 COLLATE NOCASE) LIMIT 1",
                           SQLITE_PREPARE_PERSISTENT);
  if (!stmt) return std::nullopt;
  sqlite3_bind_text(stmt.get(), 1, kind.data(), static_cast<int>(kind.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt.get(), 2, target.data(),
                    static_cast<int>(target.size()), SQLITE_TRANSIENT);
  std::optional<int64_t> found;
  if (sqlite3_step(stmt.get()) == SQLITE_ROW)
    found = sqlite3_column_int64(stmt.get(), 0);
  return found;
}

}  // namespace venuedb
