// Runs the bodies of procedures.sql straight on SQLite, the way venuedb runs
// them, so that the procedures can be tested without the server: parameters
// bound by name with their defaults, "@" columns assigned, "@@return" and
// "@@error" honoured, other statements' rows collected as result sets.
#ifndef VENUEDB_SEED_TESTS_PROCEDURE_HARNESS_H_
#define VENUEDB_SEED_TESTS_PROCEDURE_HARNESS_H_

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace venuedb {

struct Cell {
  enum Kind { kNull, kInt, kText } kind = kNull;
  int64_t number = 0;
  std::string text;

  static Cell Int(int64_t n) { return Cell{kInt, n, ""}; }
  static Cell Text(std::string t) { return Cell{kText, 0, std::move(t)}; }
  static Cell Null() { return Cell{}; }
};

struct ParamDef {
  std::string name;  // with "@"
  std::string type;  // as written
  bool is_int = false;
  bool output = false;
  bool has_default = false;
  Cell default_value;
};

struct ProcedureDef {
  std::string name;
  std::vector<ParamDef> params;
  std::string body;
};

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

struct CallResult {
  bool ok = false;
  std::string error;  // SQLite's or the "@@error" text
  int64_t return_status = 0;
  std::vector<ResultSet> results;
  std::map<std::string, Cell> params;  // final values, keyed by declared name
};

// Parses procedures.sql as the server does. Returns false with a message.
bool ParseProcedures(const std::string& text,
                     std::vector<ProcedureDef>* procedures, std::string* error);

// Calls proc on db with args (name with "@", matched in any letter case);
// parameters not given take their defaults.
CallResult CallProcedure(sqlite3* db, const ProcedureDef& proc,
                         const std::map<std::string, Cell>& args);

}  // namespace venuedb

#endif  // VENUEDB_SEED_TESTS_PROCEDURE_HARNESS_H_
