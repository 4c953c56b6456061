// The @@ variables clients read (@@TRANCOUNT, @@SPID, @@IDENTITY, ...),
// which SQLite does not know. A batch's text has each one, outside quotes and
// comments, replaced by a call of the SQL function vdb_global(), which the
// session defines on its database:
//
//   DefineGlobals(db, session);               // once per connection
//   GlobalsExpansion e = ExpandGlobals(text); // "select @@spid" ->
//                                             // "select vdb_global('spid')"
//   ... prepare e.sql; a position p in it is e.Original(p) in text.
#ifndef VENUEDB_SRC_GLOBALS_H_
#define VENUEDB_SRC_GLOBALS_H_

#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

namespace venuedb {

// What only the session knows.
class GlobalValues {
 public:
  virtual ~GlobalValues() = default;
  virtual int TransactionCount() const = 0;
  virtual int ProcessId() const = 0;
};

struct GlobalsExpansion {
  std::string sql;
  // (end in sql, end in the text) of each replacement, in order.
  std::vector<std::pair<size_t, size_t>> ends;

  // The text's position for position `at` of sql (never inside a
  // replacement).
  size_t Original(size_t at) const;
};

// Also writes CONVERT(type, value[, style]) as CAST(value AS type), the type
// as SQLite needs it (texts and dates TEXT, integers INTEGER, decimals REAL);
// the style is not applied.
GlobalsExpansion ExpandGlobals(const std::string& text);

// Whether text from pos holds anything ExpandGlobals would rewrite.
bool NeedsExpansion(const std::string& text, size_t pos);

// vdb_global(name) answers a name ExpandGlobals wrote (lower case); any other
// name is an error: "Must declare the scalar variable "@@name"."
// REQUIRES: values outlives db's statements.
void DefineGlobals(sqlite3* db, const GlobalValues* values);

}  // namespace venuedb

#endif  // VENUEDB_SRC_GLOBALS_H_
