// A small FreeTDS DB-Library client for venuedb's tests and benchmark: opens a
// connection, runs a batch or a procedure call, and gathers what came back
// (result sets, return status, return parameters, server messages) as plain
// values.
#ifndef VENUEDB_TESTS_TDS_CLIENT_H_
#define VENUEDB_TESTS_TDS_CLIENT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef struct tds_dblib_dbprocess DBPROCESS;

namespace venuedb::testing {

// NULL as nullopt; integers as decimal text; bit, real, numeric, money and
// datetimes as DB-Library converts them to text (dbconvert to SYBCHAR).
using Cell = std::optional<std::string>;
using Cells = std::vector<Cell>;

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<int> types;  // DB-Library column types (SYBINT4, SYBCHAR, ...)
  std::vector<Cells> rows;
};

struct ServerMessage {
  int number = 0;
  int severity = 0;
  std::string text;
};

struct ReturnValue {
  std::string name;
  int type = 0;
  Cell value;
};

struct Outcome {
  bool ok = false;  // dbsqlok succeeded and every result was read
  std::vector<ResultSet> results;
  std::optional<int> return_status;
  std::vector<ReturnValue> returns;
  std::vector<ServerMessage> messages;
};

// One procedure parameter as dbrpcparam takes it.
struct Param {
  std::string name;
  bool output = false;
  bool is_int = false;
  std::optional<std::string>
      text;  // for texts; nullopt sends NULL (data length 0)
  std::optional<int32_t> number;  // for integers; nullopt sends NULL
  int max_length = -1;            // -1 for inputs; 200 for a text output
};

Param IntParam(const std::string& name, std::optional<int32_t> value,
               bool output = false);
Param TextParam(const std::string& name, std::optional<std::string> value,
                bool output = false);

class Client {
 public:
  // Opens "127.0.0.1:port" as user (TDS 7.4). charset sets the client character
  // set (DBSETLCHARSET) when not empty; database is put in the login packet
  // when not empty.
  Client(int port, const std::string& user = "sa",
         const std::string& password = "", const std::string& charset = "",
         const std::string& database = "");
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return dbproc_ != nullptr; }
  DBPROCESS* dbproc() { return dbproc_; }
  // Messages the server sent during the login.
  const std::vector<ServerMessage>& login_messages() const {
    return login_messages_;
  }

  bool Use(const std::string& database);
  Outcome Batch(const std::string& sql);
  Outcome Call(const std::string& procedure, const std::vector<Param>& params);
  // Reads the pending results of a sent request into out.
  void ReadResults(Outcome* out);

 private:
  DBPROCESS* dbproc_ = nullptr;
  std::vector<ServerMessage> login_messages_;
};

// Messages gathered by the message handler on this thread since the last call.
std::vector<ServerMessage> TakeMessages();
// Library errors (dberrhandle) on this thread since the last call.
std::vector<int> TakeLibraryErrors();

}  // namespace venuedb::testing

#endif  // VENUEDB_TESTS_TDS_CLIENT_H_
