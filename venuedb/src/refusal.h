// Connections the server will not serve (over the connection limit, or no
// thread could be started for them), answered without a thread of their own:
// the accept loop polls them beside its listener. Each hears what a failed
// login looks like to its client: its pre-login is answered, its LOGIN7 gets
// an ERROR and DONE with the error bit, then the socket closes. One that sends
// anything else, more than a login holds, or nothing before the deadline is
// just closed. Each is journaled as refused, the close row's text saying why.
//
//   Refusals refusals(journal, 64, 10000);
//   refusals.Add(fd, conn_id, {"refused: connection limit", 17809, 20, "..."});
//   ... refusals.AppendPollFds(&fds); poll(...); refusals.Service(&fds[k]);
//
// Not thread-safe: it belongs to the accept loop.
#ifndef VENUEDB_SRC_REFUSAL_H_
#define VENUEDB_SRC_REFUSAL_H_

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "charset.h"

namespace venuedb {

class Journal;
struct LoginRequest;

struct RefusalReason {
  std::string journal_text;  // the close row's text
  int32_t number = 0;        // the error the login gets
  uint8_t severity = 20;
  std::string message;
};

// Journals a login refused before its user was looked up: the client's own
// fields, the connection marked refused, and the failed login request.
void JournalRefusedLogin(Journal* journal, int64_t conn_id,
                         const LoginRequest& login);

class Refusals {
 public:
  // At most max_pending refusals wait for their client at once; each waits
  // at most timeout_ms.
  Refusals(Journal* journal, size_t max_pending, int timeout_ms)
      : journal_(journal), max_pending_(max_pending), timeout_ms_(timeout_ms) {}
  ~Refusals() { CloseAll(); }
  Refusals(const Refusals&) = delete;
  Refusals& operator=(const Refusals&) = delete;

  // Takes fd, conn_id's connection. When max_pending refusals are already
  // waiting it is closed at once.
  void Add(int fd, int64_t conn_id, const RefusalReason& reason);
  // Appends one pollfd per waiting refusal, in order.
  void AppendPollFds(std::vector<pollfd>* fds) const;
  // Handles what poll reported for the pollfds AppendPollFds appended
  // (starting at fds), and the deadlines that passed.
  void Service(const pollfd* fds);
  // Milliseconds until the next deadline; -1 when nothing waits.
  int NextTimeoutMs() const;
  size_t pending() const { return pending_.size(); }
  // Closes and journals every waiting refusal.
  void CloseAll();

 private:
  struct Pending {
    int fd = -1;
    int64_t conn_id = 0;
    RefusalReason reason;
    std::chrono::steady_clock::time_point deadline;
    std::string input;    // bytes received, not yet a whole message
    std::string message;  // the payload of the message being joined
    std::string login;    // the user name, once the LOGIN7 came
    bool done = false;
  };
  // Reads what arrived and answers whole messages; sets done when finished.
  void Read(Pending* p);
  void Answer(Pending* p, uint8_t type);
  void Finish(Pending* p);

  Journal* journal_;
  Charset charset_;  // opened once, not at each refusal
  size_t max_pending_;
  int timeout_ms_;
  std::vector<Pending> pending_;
};

}  // namespace venuedb

#endif  // VENUEDB_SRC_REFUSAL_H_
