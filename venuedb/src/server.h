// The listening side: one thread per client connection, clean stop on SIGTERM
// or SIGINT.
#ifndef VENUEDB_SRC_SERVER_H_
#define VENUEDB_SRC_SERVER_H_

#include <string>

#include "session.h"

namespace venuedb {

struct ServerOptions {
  std::string listen = "127.0.0.1:0";  // "host:port"; port 0 picks a free one
  bool allow_remote = false;  // otherwise only loopback addresses are accepted
  SessionOptions session;
};

// Listens, prints "listening HOST:PORT" on stdout, serves until SIGTERM or
// SIGINT, then closes every connection and returns 0. Returns 1 (with a message
// on stderr) when it cannot listen.
int RunServer(const ServerOptions& options);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SERVER_H_
