// The wire journal: one vdb_connections row per TCP connection, one vdb_journal
// row per request (login, use, batch, rpc, transaction, attention, close) and
// one vdb_journal_params row per RPC parameter.
//
// The journal lives in its own SQLite file beside the database (JournalPath)
// and is written through one handle shared by every session, so nothing a
// client does in the venue database (an open transaction, a long write) can
// delay a journal row or make it fail with "database is locked".
//
// Invariants:
//   1. A request's row is inserted when the request arrives, with outcome
//      "running" and ok NULL, before any of it runs.
//   2. Its outcome (ok, failed, cancelled, abandoned), ok and ended_us are set
//      when it ends, however it ends, and before the last packet of its reply
//      goes out: a client that has its answer can read them at once.
//   3. A connection's closed_us and its close row are written once, however
//      the connection ends, in one write: a reader never sees one without the
//      other.
//   4. Once Seal() has run, every connection has its close row and every
//      request its outcome, and nothing more is written: a server that stops
//      while some sessions are still ending leaves a complete journal.
//
// Texts (journal text, parameter values) are stored with the TEXT storage
// class holding the bytes exactly as received or converted (GB18030), so
// `text = 'sp_addlog'` matches and hex(text) shows the bytes.
//
// Thread-safe: every method takes the journal's lock.
#ifndef VENUEDB_SRC_JOURNAL_H_
#define VENUEDB_SRC_JOURNAL_H_

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sqlite_handles.h"
#include "value.h"

namespace venuedb {

struct JournalParam {
  std::string name;  // as sent
  std::string type;  // "int", "varchar", "float", "datetime", "binary"
  int type_code = 0;
  bool output = false;
  int64_t max_length = 0;
  Value value;  // NULL when the parameter was sent as NULL
};

// How a request ended. Stored as its name in vdb_journal.outcome; ok is 1 for
// kOk and 0 for the others.
enum class Outcome {
  kOk,         // answered in full without an error
  kFailed,     // refused or answered with an error
  kCancelled,  // stopped by the client's attention
  kAbandoned,  // the connection ended before the reply was complete
};

// Microseconds since the epoch (CLOCK_REALTIME).
int64_t NowMicros();

class Journal {
 public:
  // Opens the journal file at path, creating it and its tables when missing.
  // Returns nullptr with a message in *error.
  static std::unique_ptr<Journal> Open(const std::string& path,
                                       std::string* error);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Inserts the connection row; returns its conn_id.
  int64_t OpenConnection(const std::string& peer);
  void SetLogin(int64_t conn_id, const std::string& login,
                const std::string& password, const std::string& app,
                const std::string& host, const std::string& database,
                const std::string& tds_version, int64_t packet_size,
                bool refused);
  void SetDatabase(int64_t conn_id, const std::string& database);
  // The connection's close row (login, and text: why it ended, empty when the
  // client left) with its closed_us; refused also marks a connection the
  // server would not serve. Later calls for the same connection are ignored.
  void CloseConnection(int64_t conn_id, const std::string& login,
                       const std::string& reason, bool refused = false);
  // For a stopping server whose sessions have not all ended: every request
  // still running becomes abandoned, every connection still open gets its
  // close row with text `reason`, and every later call is ignored.
  void Seal(const std::string& reason);

  // A request as it arrives, with its parameters. Returns the journal id (0
  // when the write failed).
  int64_t Begin(int64_t conn_id, const std::string& kind,
                const std::string& login, const std::string& text,
                const std::vector<JournalParam>& params = {});
  // The request's outcome. id 0 is ignored.
  void End(int64_t id, Outcome outcome);
  // Removes a request that another row stands for (a batch that was one
  // "use", journaled as that use).
  void Forget(int64_t id);
  // A request that is answered as it is recorded: Begin and End at once.
  int64_t Record(int64_t conn_id, const std::string& kind,
                 const std::string& login, const std::string& text,
                 Outcome outcome);

 private:
  explicit Journal(DeferredDbHandle db) : db_(std::move(db)) {}
  // REQUIRES: mutex_ held.
  bool Run(const char* sql, const std::vector<Value>& args);
  int64_t Insert(int64_t conn_id, const std::string& kind,
                 const std::string& login, const std::string& text,
                 const std::vector<JournalParam>& params);

  // REQUIRES: mutex_ held.
  void WriteClose(int64_t conn_id, const std::string& login,
                  const std::string& reason, bool refused);

  std::mutex mutex_;
  DeferredDbHandle db_;  // GUARDED_BY(mutex_), as is everything below
  // Connections without their close row yet, with their login names.
  std::map<int64_t, std::string> open_;
  std::set<int64_t> running_;  // requests without their outcome yet
  bool sealed_ = false;
};

}  // namespace venuedb

#endif  // VENUEDB_SRC_JOURNAL_H_
