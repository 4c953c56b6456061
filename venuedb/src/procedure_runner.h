// Running a stored procedure kept in vdb_procedures: parameters are matched by
// name (any case) or position, missing ones take their defaults, and the body
// runs statement by statement on SQLite with every "@name" bound from the
// current parameter values.
//
// A statement whose result columns all start with "@" assigns its first row to
// those parameters ("@@return" sets the return status, a non-NULL "@@error"
// raises error 50000 with that text and ends the procedure); any other
// statement with columns sends a result set; the rest just run. Afterwards:
// RETURNSTATUS, one RETURNVALUE per parameter sent as output (in request order,
// typed as sent, its ordinal the parameter's place in the call from 0),
// DONEPROC. A parameter sent with the default flag keeps its default.
//
// sp_executesql runs the same way with its first parameter (@stmt) as the body
// and its second (@params, "@p1 int, @p2 nvarchar(20) OUTPUT") as the
// declarations; the values follow by name or in declared order. Its columns
// are never assignments ("select @p1 + 1" is a result), and a statement that
// writes sends DONEINPROC with its count.
#ifndef VENUEDB_SRC_PROCEDURE_RUNNER_H_
#define VENUEDB_SRC_PROCEDURE_RUNNER_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "reply.h"
#include "rpc_request.h"

namespace venuedb {

struct ProcedureCall {
  std::string name;  // GB18030 bytes
  std::vector<RpcParam> params;
  int64_t close_after_rows =
      -1;  // from the close_after_rows fault, -1 when off
  // Inside a SQL batch: DONEPROC carries "more" unless this is the batch's last
  // statement.
  bool more_follows = false;
};

struct ProcedureOutcome {
  bool ok = false;  // ran to its end without an error
  bool attention =
      false;  // stopped by the client's attention (nothing more was sent)
  bool fault_close =
      false;  // the close_after_rows fault fired (the caller closes)
};

// Runs the call and writes its tokens to reply (the caller ends the message).
// REQUIRES: no other statement of db is active.
ProcedureOutcome RunProcedure(sqlite3* db, Reply* reply,
                              const ProcedureCall& call);

}  // namespace venuedb

#endif  // VENUEDB_SRC_PROCEDURE_RUNNER_H_
