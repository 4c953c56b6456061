// Running a SQL batch. The text (already GB18030 bytes) is taken statement by
// statement:
//   use [name]        switches the current database (ENVCHANGE 1), or ERROR 911
//   set ...           accepted and ignored (up to ';' or the end of the line)
//   exec[ute] p args  runs a stored procedure ("@name = value" or positional
//   values:
//                     integers, 'text', N'text', NULL; up to ';' or the end of
//                     the line)
//   anything else     runs on SQLite as it stands; statements with columns send
//   rows
// Each statement ends with DONE (count for rows and changes; "more" unless it
// is the last). The first error sends ERROR + DONE(error) and ends the batch.
#ifndef VENUEDB_SRC_BATCH_H_
#define VENUEDB_SRC_BATCH_H_

#include <sqlite3.h>

#include <string>

#include "reply.h"

namespace venuedb {

// What a batch needs from its session.
class BatchHost {
 public:
  virtual ~BatchHost() = default;
  // Switches to the named database; on success sets *canonical to its stored
  // spelling and *previous to the former one. Records the attempt in the
  // journal either way.
  virtual bool UseDatabase(const std::string& name, std::string* canonical,
                           std::string* previous) = 0;
  // Offered every statement first (transactions, some SET options). Returns
  // false when the statement at sql[pos] is not the host's. Otherwise sets
  // *end just after it, has written its tokens but the DONE, and sets
  // *error_number (and *error_message) when it failed.
  virtual bool OwnStatement(const std::string& /*sql*/, size_t /*pos*/,
                            size_t* /*end*/, int32_t* /*error_number*/,
                            std::string* /*error_message*/) {
    return false;
  }
};

struct BatchOutcome {
  bool ok = true;  // no statement failed
  bool attention =
      false;  // stopped by an attention (the caller sends DONE 0x20)
  bool fault_close =
      false;  // the close_after_rows fault fired (the caller closes)
  bool only_use = false;  // the batch was a single "use" statement
};

// REQUIRES: no other statement of db is active. The caller ends the message.
BatchOutcome RunBatch(sqlite3* db, Reply* reply, BatchHost* host,
                      const std::string& sql);

}  // namespace venuedb

#endif  // VENUEDB_SRC_BATCH_H_
