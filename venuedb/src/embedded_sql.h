// The venue schema and procedure definitions, built into the program from
// venuedb/sql/. Either may be empty when the file did not exist at build time.
#ifndef VENUEDB_SRC_EMBEDDED_SQL_H_
#define VENUEDB_SRC_EMBEDDED_SQL_H_

#include <cstddef>

namespace venuedb {

extern const unsigned char kSchemaSql[];
extern const size_t kSchemaSqlSize;
extern const unsigned char kProceduresSql[];
extern const size_t kProceduresSqlSize;

}  // namespace venuedb

#endif  // VENUEDB_SRC_EMBEDDED_SQL_H_
