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
//   5. What a client holds is bounded: a connection that has not logged in
//      within the login time-out, or whose request stops arriving part-way for
//      the request time-out, is closed; a request that would take the memory
//      of incomplete requests past its cap is refused and its connection
//      closed. Each is journaled. A logged-in client may stay idle.
//   6. The database is opened at the login: a connection that never logs in
//      holds its socket and its thread, nothing more.
#ifndef VENUEDB_SRC_SESSION_H_
#define VENUEDB_SRC_SESSION_H_

#include <cstdint>
#include <string>

namespace venuedb {

class Journal;
class RequestMemory;

struct SessionOptions {
  std::string db_path;
  bool verbose = false;  // one line per connection and per request on stderr
  // How long a statement waits for a write lock another connection holds,
  // unless the client sets its own with SET LOCK_TIMEOUT.
  int lock_timeout_ms = 5000;
  // From the connection's start to the end of its login.
  int login_timeout_ms = 10000;
  // From a request's first byte to its last.
  int request_timeout_ms = 30000;
  Journal* journal = nullptr;  // shared by every session; not owned
  // The cap on bytes of incomplete requests, shared; not owned, may be null.
  RequestMemory* request_memory = nullptr;
};

// Serves the connection on fd until the client leaves or the server stops.
// Takes ownership of fd. conn_id is its vdb_connections row, peer
// "address:port" for the log.
// REQUIRES: options.journal is set.
void ServeConnection(int fd, int64_t conn_id, const std::string& peer,
                     const SessionOptions& options);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SESSION_H_
