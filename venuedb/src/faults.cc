#include "faults.h"

namespace venuedb {

std::optional<int64_t> FindFault(sqlite3* db, const std::string& kind,
                                 const std::string& target) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db,
                         "SELECT value FROM vdb_faults WHERE kind=?1 AND "
                         "(target='*' OR target=?2 COLLATE NOCASE) LIMIT 1",
                         -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                         nullptr) != SQLITE_OK) {
    return std::nullopt;
  }
  sqlite3_bind_text(stmt, 1, kind.data(), static_cast<int>(kind.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, target.data(), static_cast<int>(target.size()),
                    SQLITE_TRANSIENT);
  std::optional<int64_t> found;
  if (sqlite3_step(stmt) == SQLITE_ROW) found = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return found;
}

}  // namespace venuedb
