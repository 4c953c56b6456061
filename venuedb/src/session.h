// One client connection, from pre-login to close, on its own thread with its
// own SQLite handle. Requests are answered one at a time, in order.
#ifndef VENUEDB_SRC_SESSION_H_
#define VENUEDB_SRC_SESSION_H_

#include <string>

namespace venuedb {

struct SessionOptions {
  std::string db_path;
  bool verbose = false;  // one line per connection and per request on stderr
};

// Serves the connection on fd until the client leaves or the server stops.
// Takes ownership of fd. peer is "address:port" for the journal.
void ServeConnection(int fd, const std::string& peer,
                     const SessionOptions& options);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SESSION_H_
