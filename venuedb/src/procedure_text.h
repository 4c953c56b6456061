// Stored procedures kept as data. procedures.sql holds definitions separated by
// lines "GO":
//
//   CREATE PROCEDURE name
//     @a int = 0,
//     @b varchar(200) = NULL OUTPUT
//   AS
//   <SQLite statements>
//
// `init` stores each one in vdb_procedures(name, params, body): params holds
// the parameter declarations one per line ("@b varchar(200) = NULL OUTPUT"),
// body the statements. The server parses params again at every call, so a row
// written by hand works the same way.
#ifndef VENUEDB_SRC_PROCEDURE_TEXT_H_
#define VENUEDB_SRC_PROCEDURE_TEXT_H_

#include <string>
#include <vector>

#include "value.h"

namespace venuedb {

struct ProcedureText {
  std::string name;
  std::string params;  // one declaration per line
  std::string body;
};

// One declared parameter.
struct ParamDecl {
  std::string name;       // with the leading "@"
  std::string type_text;  // as written: "int", "varchar(20)", ...
  bool is_int = false;    // int, smallint, tinyint, bigint, bit
  Value default_value;    // integer, text or NULL
  bool output = false;
};

// Splits a procedures file into definitions. Comment lines ("--...") and blank
// lines between definitions are skipped. Returns false with a message naming
// the bad definition.
bool ParseProcedureFile(const std::string& text,
                        std::vector<ProcedureText>* procedures,
                        std::string* error);

// Parses the params column (declarations separated by newlines or commas).
bool ParseParamDecls(const std::string& params, std::vector<ParamDecl>* decls,
                     std::string* error);

}  // namespace venuedb

#endif  // VENUEDB_SRC_PROCEDURE_TEXT_H_
