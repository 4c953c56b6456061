// One client connection, from pre-login to close, on its own thread with its
// own SQLite handle. Requests are answered one at a time, in order.
//
// Invariants:
//   1. Nothing a client sends ends the process: whatever escapes the handling
//      of a request ends this session only, with the request journaled as
//      abandoned, a close row saying why, and the socket closed.
//   2. A session whose client has gone ends: waits and long SQLite steps look
//      at the socket and stop when the peer is gone.
//   3. A transaction the client left open is rolled back when the connection
//      closes, however it closes.
//   4. A statement that needs the write lock another client holds waits at
//      most the lock timeout, then fails with error 1222.
#ifndef VENUEDB_SRC_SESSION_H_
#define VENUEDB_SRC_SESSION_H_

#include <string>

namespace venuedb {

class Journal;

struct SessionOptions {
  std::string db_path;
  bool verbose = false;  // one line per connection and per request on stderr
  // How long a statement waits for a write lock another connection holds,
  // unless the client sets its own with SET LOCK_TIMEOUT.
  int lock_timeout_ms = 5000;
  Journal* journal = nullptr;  // shared by every session; not owned
};

// Serves the connection on fd until the client leaves or the server stops.
// Takes ownership of fd. peer is "address:port" for the journal.
// REQUIRES: options.journal is set.
void ServeConnection(int fd, const std::string& peer,
                     const SessionOptions& options);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SESSION_H_
