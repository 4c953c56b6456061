// One database exchange: the frame of every database operation of the library.
//
// An Exchange takes the catalogue lock when it is constructed, then opens a fresh connection
// with the current settings; it closes the connection and releases the lock when destroyed,
// on every path. Between the two it runs one stored-procedure call or one SQL text, reads
// its rows or its return parameters into the caller's destinations, and reports each step
// as a flag: the first false ends the exchange (the caller returns what it has so far).
//
//   Exchange x;
//   if (!x.connected()) return kNoConnection;
//   int32_t id = 0; char name[20];
//   if (!x.Call("sp_something", {Param::Int("@group_id", group)})) return kFailed;
//   bool ok = x.ReadRows({Column::Int(1, &id), Column::Text(2, name, sizeof name)},
//                        [&] { ...use id, name...; return true; });
//
// Nothing here includes the DB-Library header; only exchange.cc and session.cc do.
#ifndef RONDEL_FRAME_EXCHANGE_H_
#define RONDEL_FRAME_EXCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "frame/session.h"

namespace rondel {

// One stored-procedure parameter, as passed to dbrpcparam. The pointed-to name, text and
// integer must outlive the Call that sends them.
struct Param {
  enum class Kind { kInt, kText, kNullInt, kNullText, kIntOutput, kTextOutput };
  Kind kind;
  const char* name;      // with the leading "@", sent exactly as given
  int32_t int_value;     // kInt
  int32_t* int_ref;      // kIntOutput: its current value is sent as the input value
  const char* text;      // kText
  int max_length;        // as passed to dbrpcparam
  int data_length;       // kText: bytes of `text` sent; 0 sends NULL

  // Integer input: SQLINT4, maxlen -1, datalen -1.
  static Param Int(const char* name, int32_t value);
  // Text input: SQLVARCHAR, maxlen -1 (or `max_length`), datalen strlen(text).
  static Param Text(const char* name, const char* text, int max_length = -1);
  // Null inputs: datalen 0.
  static Param NullInt(const char* name);
  static Param NullText(const char* name, int max_length = -1);
  // Integer output: DBRPCRETURN, SQLINT4, -1/-1, value *ref sent as input.
  static Param IntOutput(const char* name, int32_t* ref);
  // Text output: DBRPCRETURN, SQLVARCHAR, maxlen 200, datalen 0 (no input value).
  static Param TextOutput(const char* name);
};

// One bound result column (column numbers from 1). Integers are bound with INTBIND into a
// 32-bit integer; texts with NTBSTRINGBIND and the destination's size, so a longer value is
// cut to size - 1 bytes and terminated (trailing blanks removed; NULL gives "" or 0).
struct Column {
  int number;
  int32_t* int_dest;  // integer column, or null
  char* text_dest;    // text column, or null
  size_t text_size;   // bytes of text_dest, terminator included; REQUIRES >= 1

  static Column Int(int number, int32_t* dest) { return {number, dest, nullptr, 0}; }
  static Column Text(int number, char* dest, size_t size) {
    return {number, nullptr, dest, size};
  }
};

// One expected return parameter: compared byte for byte and case-sensitively with the
// returned name; on a match, at most `size` bytes of the value are copied into `dest`
// (an integer destination has size 4), and for a text a terminator is written right after
// the copied bytes (so a text destination holds size + 1 bytes).
struct ReturnTarget {
  const char* name;
  void* dest;
  size_t size;
  bool is_text;

  static ReturnTarget Int(const char* name, int32_t* dest) {
    return {name, dest, sizeof(int32_t), false};
  }
  static ReturnTarget Text(const char* name, char* dest, size_t max_bytes) {
    return {name, dest, max_bytes, true};
  }
};

class Exchange {
 public:
  // Takes the catalogue lock, then opens a connection (OpenDbConnection). REQUIRES: the
  // calling thread does not hold the lock already.
  Exchange();
  // Closes the connection (if any), then releases the lock.
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  bool connected() const { return session_.valid(); }

  // Closes the current connection and opens a second one inside the same lock hold.
  bool Reconnect();

  // dbrpcinit(name, 0), one dbrpcparam per parameter in order, dbrpcsend, dbsqlok.
  // False at the first step that does not succeed (and when not connected).
  bool Call(const char* procedure, std::initializer_list<Param> params);
  // As Call, but stops after dbrpcsend: the caller decides whether dbsqlok matters.
  bool CallSendOnly(const char* procedure, std::initializer_list<Param> params);
  // dbsqlok on its own, for CallSendOnly.
  bool Confirm();

  // SQL text: dbcmd, dbsqlsend, dbsqlok.
  bool Sql(const char* text);
  // SQL text sent with dbcmd and dbsqlexec; the results of both are returned as one flag.
  bool SqlExec(const char* text);

  // The result-set loop: dbresults until NO_MORE_RESULTS; each result set zeroes the text
  // destinations, binds `columns` afresh, then fetches rows, calling `on_row` after each
  // row is in the destinations. `on_row` returns false to stop reading (the rest of the
  // results is cancelled). Returns false when dbresults or a bind fails or a fetch fails
  // (a failing dbnextrow ends the loop; it never spins); true when all results were read
  // or `on_row` stopped. `rows_read`, when given, counts the rows delivered.
  bool ReadRows(std::initializer_list<Column> columns, const std::function<bool()>& on_row,
                long* rows_read = nullptr);

  // Return parameters, after a successful Call: for each returned parameter from 1 to
  // dbnumrets, the first target with an equal name receives its value. Returns a bit mask
  // of the targets that matched (bit i for target i).
  unsigned HarvestReturns(std::initializer_list<ReturnTarget> targets);

  // The procedure's return status, when it sent one.
  bool HasReturnStatus();
  int32_t ReturnStatus();

 private:
  bool SendProcedure(const char* procedure, std::initializer_list<Param> params);
  Session session_;
  char text_output_scratch_[256];
};

}  // namespace rondel

#endif  // RONDEL_FRAME_EXCHANGE_H_
