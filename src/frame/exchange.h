// One database exchange: the frame of every database operation of the library.
//
// An Exchange takes the catalogue lock when it is constructed, then opens a
// fresh connection with the current settings; it closes the connection and
// releases the lock when destroyed, on every path. Between the two it runs one
// stored-procedure call or one SQL text, reads its rows or its return
// parameters into the caller's destinations, and reports each step as a flag:
// the first false ends the exchange (the caller returns what it has so far).
//
//   Exchange x;
//   if (!x.connected()) return kNoConnection;
//   int32_t id = 0;
//   char name[20];
//   if (!x.Call("sp_something", {Param::Int("@group_id", group)})) return 0;
//   bool ok = x.ReadRows(
//       {Column::Int(1, &id), Column::Text(2, name, sizeof name)},
//       [&] { ...use id, name...; return true; });
//
// Return parameters instead of rows:
//
//   int32_t code = caller_value;
//   char text[201];
//   if (!x.Call("sp_addlog", {Param::IntOutput("@error_code", &code),
//                             Param::TextOutput("@error_string")})) return 0;
//   bool code_returned = false;
//   x.HarvestReturns({ReturnTarget::Int("@error_code", &code, &code_returned),
//                     ReturnTarget::Text("@error_string", text, 200)});
//
// An input omitted when its text is null is Param::OptionalText: it takes its
// place in the list and is skipped when sent. Work that must happen under the
// lock before the connection opens uses the deferred form:
//
//   Exchange x(Exchange::kDeferOpen);   // lock held, no connection yet
//   ...                                 // e.g. reset what two attempts share
//   if (!x.Reconnect()) return 0;       // opens the connection
//
// A call that must answer within seconds whatever the database does bounds
// both its wait for the lock and its connection's time-outs:
//
//   Exchange x(Exchange::Limits{std::chrono::seconds(2), 1});
//   if (x.lock_busy()) return kAnswerWithoutTheDatabase;
//
// Nothing here includes the DB-Library header; only the frame's .cc files do,
// through frame/db_library.h (session.cc, exchange.cc, exchange_results.cc).
#ifndef RONDEL_FRAME_EXCHANGE_H_
#define RONDEL_FRAME_EXCHANGE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "frame/session.h"
#include "platform/lock.h"

namespace rondel {

// One stored-procedure parameter, as passed to dbrpcparam. The pointed-to name,
// text and integer must outlive the Call that sends them.
struct Param {
  enum class Kind {
    kInt,
    kText,
    kNullInt,
    kNullText,
    kIntOutput,
    kTextOutput,
    kOmitted  // not sent at all: the procedure's own default applies
  };
  Kind kind;
  const char* name;   // with the leading "@", sent exactly as given
  int32_t int_value;  // kInt
  int32_t* int_ref;  // kIntOutput: its current value is sent as the input value
  const char* text;  // kText
  int max_length;    // as passed to dbrpcparam
  int data_length;   // kText: bytes of `text` sent; 0 sends NULL

  // Integer input: SQLINT4, maxlen -1, datalen -1.
  static Param Int(const char* name, int32_t value);
  // Text input: SQLVARCHAR, maxlen -1 (or `max_length`), datalen strlen(text).
  // An empty text has datalen 0, which the client library sends as NULL.
  // FreeTDS refuses a positive maxlen on an input parameter (error 20194), so
  // Call passes -1 for it; 0 goes as given. REQUIRES: text != nullptr (say
  // which of NullText or OptionalText a null text means).
  static Param Text(const char* name, const char* text, int max_length = -1);
  // A text input that is not sent at all when `text` is null (the procedure's
  // default then applies), else Text(name, text).
  static Param OptionalText(const char* name, const char* text);
  // Null inputs: SQLINT4 or SQLVARCHAR, maxlen -1 (or `max_length`), datalen 0,
  // no value.
  static Param NullInt(const char* name);
  static Param NullText(const char* name, int max_length = -1);
  // Integer output: DBRPCRETURN, SQLINT4, -1/-1, value *ref sent as input. The
  // value is not written back by the call: HarvestReturns copies it.
  static Param IntOutput(const char* name, int32_t* ref);
  // Text output: DBRPCRETURN, SQLVARCHAR, maxlen 200, datalen 0 (no input
  // value), pointing at the exchange's 256-byte scratch buffer.
  static Param TextOutput(const char* name);
};

// One bound result column (column numbers from 1). Integers are bound with
// INTBIND into a 32-bit integer; texts with NTBSTRINGBIND and the destination's
// size, so a longer value is cut to size - 1 bytes and terminated (trailing
// blanks removed; NULL gives "" or 0). Each cut value also writes one log line
// through the error handler ("Data conversion resulted in overflow"); the row
// is still delivered.
struct Column {
  int number;
  int32_t* int_dest;  // integer column, or null
  char* text_dest;    // text column, or null
  size_t text_size;   // bytes of text_dest, terminator included; REQUIRES >= 1

  static Column Int(int number, int32_t* dest) {
    return {number, dest, nullptr, 0};
  }
  static Column Text(int number, char* dest, size_t size) {
    return {number, nullptr, dest, size};
  }
};

// One expected return parameter: compared byte for byte and case-sensitively
// with the returned name; on a match, at most `size` bytes of the value are
// copied into `dest` (an integer destination has size 4), and for a text a
// terminator is written right after the copied bytes (so a text destination
// holds size + 1 bytes). `found`, when given, says after the harvest whether
// the parameter came back (a NULL value counts: it came back without bytes).
// A target without a name is never filled.
struct ReturnTarget {
  const char* name;
  void* dest;
  size_t size;
  bool is_text;
  bool* found;

  static ReturnTarget Int(const char* name, int32_t* dest,
                          bool* found = nullptr) {
    return {name, dest, sizeof(int32_t), false, found};
  }
  static ReturnTarget Text(const char* name, char* dest, size_t max_bytes,
                           bool* found = nullptr) {
    return {name, dest, max_bytes, true, found};
  }
};

class Exchange {
 public:
  enum DeferOpen { kDeferOpen };
  // A bounded exchange: the longest wait for the lock, and the login and query
  // time-outs of its connections (Session::OpenWithin).
  struct Limits {
    std::chrono::milliseconds lock_wait;
    int timeout_seconds;
  };

  // Takes the catalogue lock, then opens a connection (OpenDbConnection).
  // REQUIRES: the calling thread does not hold the lock already.
  Exchange();
  // Takes the catalogue lock only; Reconnect() opens the connection later in
  // the same hold.
  explicit Exchange(DeferOpen);
  // Waits at most limits.lock_wait for the lock. Without it nothing is opened
  // or released: connected() is false and lock_busy() true. With it, opens a
  // connection with the limits' time-outs.
  // REQUIRES: as Exchange(); limits.timeout_seconds >= 1.
  explicit Exchange(const Limits& limits);
  // Closes the connection (if any), then releases the lock; also when an
  // exception leaves the caller's scope.
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  bool connected() const { return session_.valid(); }
  // True when a bounded exchange did not get the lock in time.
  bool lock_busy() const { return !lock_holder_.owns(); }
  // Connected, and the client library has not marked the connection dead: a
  // call that failed on a live connection failed for its own values (a text
  // the server's character set cannot take), not for the server.
  bool alive() const;

  // Closes the current connection (if any) and opens a fresh one inside the
  // same lock hold, with the same time-outs. True when the new connection is
  // open; false without the lock.
  bool Reconnect();
  // Closes the connection now; the lock stays held until destruction.
  void Disconnect() { session_.Close(); }

  // dbrpcinit(name, 0), one dbrpcparam per parameter in order, dbrpcsend,
  // dbsqlok. False at the first step that does not succeed (and when not
  // connected).
  bool Call(const char* procedure, std::initializer_list<Param> params);
  bool Call(const char* procedure, const Param* params, size_t count);
  // As Call, but stops after dbrpcsend: the caller decides whether dbsqlok
  // matters.
  bool CallSendOnly(const char* procedure, std::initializer_list<Param> params);
  bool CallSendOnly(const char* procedure, const Param* params, size_t count);
  // dbsqlok on its own, for CallSendOnly.
  bool Confirm();

  // SQL text: dbcmd, dbsqlsend, dbsqlok.
  bool Sql(const char* text);
  // SQL text sent with dbcmd and dbsqlexec; the results of both are returned as
  // one flag.
  bool SqlExec(const char* text);

  // The result-set loop, after a successful Call or Sql: dbresults until
  // NO_MORE_RESULTS; each result set binds `columns` afresh (a set with fewer
  // columns fails the bind), then fetches
  // rows with dbnextrow, calling `on_row` after each row is in the destinations
  // (always terminated, cut to their size). The set ends on NO_MORE_ROWS; FAIL
  // or any other answer ends the whole loop with false (it never spins).
  // `on_row` returns false to stop reading: the rest of the results is
  // cancelled and the result is true. Also false when dbresults or a bind fails
  // or when not connected. `rows_read`, when given, is set to the rows
  // delivered to `on_row`. The destinations are never blanked: after the loop
  // they hold the last row read (a trailing set without rows changes nothing),
  // or what the caller put there when no row came.
  bool ReadRows(std::initializer_list<Column> columns,
                const std::function<bool()>& on_row, long* rows_read = nullptr);

  // Return parameters, after a successful Call (no ReadRows first): for each
  // returned parameter from 1 to dbnumrets, the first target whose name is
  // equal byte for byte (case-sensitive) receives at most
  // target.size of its dbretlen bytes; a text target is terminated right
  // after them. A NULL value copies no bytes (an integer stays as it was, a
  // text becomes ""). A target whose name is not returned is left untouched.
  // Each target's `found` is set; the answer is the number of targets filled
  // (0 when not connected).
  size_t HarvestReturns(std::initializer_list<ReturnTarget> targets);

  // The procedure's return status (dbhasretstat, dbretstatus), after Call.
  // False and 0 when not connected.
  bool HasReturnStatus();
  int32_t ReturnStatus();

 private:
  bool SendProcedure(const char* procedure, const Param* params, size_t count);
  // Declared first: constructed before the connection opens, destroyed after it
  // closes.
  platform::LockHolder lock_holder_;
  // The time-outs of this exchange's connections; 0: the configured ones.
  int timeout_seconds_ = 0;
  Session session_;
  // Where text outputs point; their returned values are read through
  // HarvestReturns.
  char text_output_scratch_[256];
};

}  // namespace rondel

#endif  // RONDEL_FRAME_EXCHANGE_H_
