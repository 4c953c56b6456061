// Faults a test switches on while the server runs, read from vdb_faults at each
// request:
// clang-format off
//   kind               target                    value
//   refuse_login       user name or '*'          -
//   fail_procedure     procedure name or '*'     error number (0: 50000)
//   delay_procedure    procedure name or '*'     milliseconds before the body runs
//   close_after_rows   procedure name or '*'     rows of a result sent before the
//                                                socket closes ('*' also covers
//                                                SQL batches)
//   raise_in_session   request kind or '*'       - (the session throws while
//                                                handling a "batch", "rpc" or
//                                                "transaction" request)
// clang-format on
#ifndef VENUEDB_SRC_FAULTS_H_
#define VENUEDB_SRC_FAULTS_H_

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

namespace venuedb {

// The value of the first fault of this kind whose target is target (any case)
// or '*'. A fault row with a NULL value reads as 0.
std::optional<int64_t> FindFault(sqlite3* db, const std::string& kind,
                                 const std::string& target);

}  // namespace venuedb

#endif  // VENUEDB_SRC_FAULTS_H_
