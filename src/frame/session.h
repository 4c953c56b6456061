// DB-Library sessions: start and stop of the client library, the error handler,
// and one open connection as a move-only handle.
#ifndef RONDEL_FRAME_SESSION_H_
#define RONDEL_FRAME_SESSION_H_

#include "platform/lock.h"

namespace rondel {

namespace platform {
class MessageLog;
}  // namespace platform

// The exchange lock: the one process-wide lock around every database
// exchange, held by an Exchange (frame/exchange.h) from before its connection
// opens until after it closes. Its name is the interface's own, but it is not
// the catalogue's lock: the catalogue readers (lookups, background play) take
// none, and the tables change only during start-up, before the host's other
// calls. What it guards:
//  - DB-Library's process-wide state: one connection open at a time, and the
//    login and query time-outs each opening sets for itself;
//  - the order of the database calls: start-up's loaders, then each call's
//    exchanges one at a time (a slow database stalls them all, which is why
//    the fire alarm waits for it only a bounded time);
//  - the play outbox (records/outbox.h: KeptPlays());
//  - FileServerIP's replacement by GetDataServer, which happens under it.
// It exists for the whole life of the process (also when the client library
// failed to start), so a caller can always enter it and then take its
// no-connection path. Never taken twice on one thread (asserted).
platform::Lock& CatalogueLock();

// The module-wide log instance, through which the error handler writes
// DB-Library's error texts. Made on first use and never destroyed.
platform::MessageLog& ModuleLog();

// dbinit, then the error and message handlers; true when the client library is
// ready. Once started, a second call answers true without starting it again.
// The error handler writes each error text as one line to ModuleLog() and
// always answers INT_CANCEL (INT_EXIT would end the process), so the failing
// call returns its failure to the caller. The message handler only logs: the
// server's errors (class 11 and above) while a connection opens, with its
// number, class, state and text. REQUIRES: no exchange is running (start-up
// runs before the host's other calls).
bool StartDbLibrary();
// dbexit when started; otherwise nothing (so a second call does nothing).
// Takes the catalogue lock around it, so an exchange in flight on another
// thread finishes first, and every exchange after it opens no connection.
// REQUIRES: the calling thread does not hold the catalogue lock.
void StopDbLibrary();
bool DbLibraryStarted();

// One open connection (a DBPROCESS), closed when the handle is destroyed or
// Close()d.
class Session {
 public:
  Session() = default;
  ~Session() { Close(); }
  Session(Session&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  Session& operator=(Session&& other) noexcept;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // OpenDbConnection: login with the current settings (user, password,
  // application "db", TDS 7.4, the client character set, 180-second login and
  // query time-outs), then select the database. Logs one line ("dblogin()
  // error", "login database server \"...\" error" or "use database \"...\"
  // error") on failure, then "connecting to HOST:PORT failed" when the server
  // sent no message of its own, and answers an invalid session; the login
  // record is released on every path. Without a started client library it
  // answers an invalid session after logging "dblogin() error". An empty server
  // name is not tried. The first failure after an opening that worked logs
  // "database HOST:PORT "NAME" stopped answering", the first success after a
  // failure "... answers again". REQUIRES: the catalogue lock held.
  static Session Open();
  // Open with login and query time-outs of `timeout_seconds` (at most the
  // configured ones) for this connection alone, for a call that must answer
  // within seconds whatever the database does. The client library keeps its
  // time-outs process-wide; every opening sets both (the lock makes it the
  // only open connection), so the next Open() has the configured ones again.
  // A time-out closes the connection (the error handler answers INT_CANCEL).
  // REQUIRES: the catalogue lock held; timeout_seconds >= 1.
  static Session OpenWithin(int timeout_seconds);

  bool valid() const { return handle_ != nullptr; }
  void Close();  // CloseDbConnection; nothing when invalid
  void* handle() const { return handle_; }  // the DBPROCESS*, for exchange.cc

 private:
  void* handle_ = nullptr;
};

}  // namespace rondel

#endif  // RONDEL_FRAME_SESSION_H_
