// The wire journal: one vdb_connections row per TCP connection, one vdb_journal
// row per request (login, use, batch, rpc, attention, close) and one
// vdb_journal_params row per RPC parameter. Rows are written by the serving
// thread before the reply is finished, so a client that has its answer can read
// them at once.
//
// Texts (journal text, parameter values) are stored with the TEXT storage class
// holding the bytes exactly as received or converted (GB18030), so `text =
// 'sp_addlog'` matches and hex(text) shows the bytes.
//
// REQUIRES: no statement of the same handle is still stepping when a method is
// called (a WAL reader that has fallen behind could not write).
#ifndef VENUEDB_SRC_JOURNAL_H_
#define VENUEDB_SRC_JOURNAL_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

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

// Microseconds since the epoch (CLOCK_REALTIME).
int64_t NowMicros();

class Journal {
 public:
  explicit Journal(sqlite3* db) : db_(db) {}
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
  void CloseConnection(int64_t conn_id);

  // One request. Returns the journal id (0 when the write failed).
  int64_t Record(int64_t conn_id, const std::string& kind,
                 const std::string& login, const std::string& text, bool ok,
                 const std::vector<JournalParam>& params = {});

 private:
  bool Run(const char* sql, const std::vector<Value>& args);
  sqlite3* db_;
};

}  // namespace venuedb

#endif  // VENUEDB_SRC_JOURNAL_H_
