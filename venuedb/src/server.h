// The listening side: one thread per client connection, clean stop on SIGTERM
// or SIGINT.
//
// Invariants:
//   1. Nothing a client does, and no shortage of threads, descriptors or
//      memory, ends the process or makes the accept loop spin: a connection
//      the server cannot serve is refused (with a login error when it can
//      answer, else closed at once) and journaled as refused.
//   2. Every accepted connection has its vdb_connections row before anything
//      else happens to it, and its close row before the process exits.
//   3. A stop ends within kStopGrace and the journal writes: sessions that
//      have not ended by then have their rows completed for them
//      (Journal::Seal) and the process exits without waiting for them.
//   4. When no connection is left after a burst, the server gives back what
//      the burst took: SQLite's descriptors of closed handles (held while any
//      handle on the file is open) and freed heap.
#ifndef VENUEDB_SRC_SERVER_H_
#define VENUEDB_SRC_SERVER_H_

#include <cstddef>
#include <string>

#include "session.h"

namespace venuedb {

struct ServerOptions {
  std::string listen = "127.0.0.1:0";  // "host:port"; port 0 picks a free one
  bool allow_remote = false;  // otherwise only loopback addresses are accepted
  // Connections served at once; one more is refused with a login error
  // (17809).
  int max_connections = 1000;
  // Bytes held by requests still arriving, across all connections.
  size_t request_memory_bytes = size_t{128} << 20;
  SessionOptions session;
};

// Listens, prints "listening HOST:PORT" on stdout, serves until SIGTERM or
// SIGINT, then closes every connection and returns 0; when sessions are still
// running after the stop's grace period it completes their journal rows and
// ends the process at once (exit status 0). Returns 1 (with a message on
// stderr) when it cannot listen.
int RunServer(const ServerOptions& options);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SERVER_H_
