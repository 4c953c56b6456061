// The reading side of an exchange: result rows into bound destinations, return
// parameters into the caller's targets, and the return status.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "frame/db_library.h"
#include "frame/exchange.h"

namespace rondel {

namespace {

bool BindColumns(DBPROCESS* db, std::initializer_list<Column> columns) {
  for (const Column& c : columns) {
    assert(c.text_dest == nullptr || c.text_size >= 1);
    RETCODE rc;
    if (c.text_dest != nullptr) {
      // Bound with the destination's size: the library then writes at most size
      // - 1 bytes and a terminator (length 0 would write the whole value,
      // however long).
      rc = dbbind(db, c.number, NTBSTRINGBIND, static_cast<DBINT>(c.text_size),
                  ValueBytes(c.text_dest));
    } else {
      rc = dbbind(db, c.number, INTBIND, 0, ValueBytes(c.int_dest));
    }
    if (rc != SUCCEED) return false;
  }
  return true;
}

}  // namespace

bool Exchange::ReadRows(std::initializer_list<Column> columns,
                        const std::function<bool()>& on_row, long* rows_read) {
  long delivered = 0;
  if (rows_read != nullptr) *rows_read = 0;
  if (!connected()) return false;
  DBPROCESS* db = Db(session_);
  for (;;) {
    RETCODE rc = dbresults(db);
    if (rc == NO_MORE_RESULTS) return true;
    if (rc != SUCCEED) return false;
    // The destinations are not blanked here: a later result set without rows
    // (a procedure's trailing empty select) must leave the last row's values.
    if (!BindColumns(db, columns)) return false;
    for (;;) {
      STATUS row = dbnextrow(db);
      if (row == NO_MORE_ROWS) break;
      if (row != REG_ROW) return false;  // FAIL, a full buffer or a compute row
      // The bounded bind already terminates; this holds whatever the library
      // did.
      for (const Column& c : columns) {
        if (c.text_dest != nullptr) c.text_dest[c.text_size - 1] = '\0';
      }
      ++delivered;
      if (rows_read != nullptr) *rows_read = delivered;
      if (!on_row()) {
        dbcancel(db);
        return true;
      }
    }
  }
}

size_t Exchange::HarvestReturns(std::initializer_list<ReturnTarget> targets) {
  // Which targets were filled, in the order given.
  std::vector<bool> filled(targets.size(), false);
  size_t filled_count = 0;
  if (connected()) {
    DBPROCESS* db = Db(session_);
    const int count = dbnumrets(db);
    for (int number = 1; number <= count; ++number) {
      const char* name = dbretname(db, number);
      if (name == nullptr) continue;
      size_t i = 0;
      for (const ReturnTarget& target : targets) {
        if (target.name != nullptr && std::strcmp(name, target.name) == 0) {
          // The value is not terminated: dbretlen bytes, bounded by the
          // destination.
          const int length = dbretlen(db, number);
          size_t n = length > 0
                         ? std::min(static_cast<size_t>(length), target.size)
                         : 0;
          const BYTE* data = dbretdata(db, number);
          if (data == nullptr) n = 0;
          if (n > 0) std::memcpy(target.dest, data, n);
          if (target.is_text) static_cast<char*>(target.dest)[n] = '\0';
          filled_count += filled[i] ? 0 : 1;
          filled[i] = true;
          break;
        }
        ++i;
      }
    }
  }
  size_t i = 0;
  for (const ReturnTarget& target : targets) {
    if (target.found != nullptr) *target.found = filled[i];
    ++i;
  }
  return filled_count;
}

bool Exchange::HasReturnStatus() {
  return connected() && dbhasretstat(Db(session_)) != FALSE;
}

int32_t Exchange::ReturnStatus() {
  return connected() ? dbretstatus(Db(session_)) : 0;
}

}  // namespace rondel
