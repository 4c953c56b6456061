// Session-local (#name) tables and the "drop it if it is there" idiom, written
// as SQLite reads them before a batch runs. Each session has its own SQLite
// connection, so SQLite's TEMP tables are session-local and go with it.
//
//   #name (a word outside quotes and comments)   "#name"
//   CREATE TABLE #name                           CREATE TEMP TABLE "#name"
//   SELECT list INTO #name FROM ...              CREATE TEMP TABLE "#name" AS
//                                                  SELECT list FROM ...
//   IF OBJECT_ID('name') IS NOT NULL DROP TABLE name
//   IF EXISTS (SELECT ... FROM [db..]sysobjects WHERE ... 'name' ...)
//     DROP TABLE name                            DROP TABLE IF EXISTS name
//   IF OBJECT_ID('name') IS NOT NULL DROP PROC[EDURE] name
//                                                DELETE FROM vdb_procedures
//                                                  WHERE name = 'name'
//
// The idiom is recognised only when the name checked (its last dotted part) is
// the name dropped; any other IF, and ##global names, are left as written.
// Text that holds none of these forms comes back unchanged.
#ifndef VENUEDB_SRC_TEMP_TABLES_H_
#define VENUEDB_SRC_TEMP_TABLES_H_

#include <string>
#include <string_view>

namespace venuedb {

std::string RewriteTempTables(std::string_view sql);

}  // namespace venuedb

#endif  // VENUEDB_SRC_TEMP_TABLES_H_
