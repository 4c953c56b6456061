// Writing one reply: the tokens every request kind uses (messages, DONE
// variants) and the streaming of a SQLite statement as a result set.
#ifndef VENUEDB_SRC_REPLY_H_
#define VENUEDB_SRC_REPLY_H_

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

#include "channel.h"
#include "charset.h"
#include "sqlite_handles.h"
#include "tokens.h"

namespace venuedb {

// An ERROR token (class above 10) or an INFO token from this server; text
// and procedure in code page 936.
void PutServerMessage(ByteWriter* w, bool tds72, Charset* charset,
                      int32_t number, uint8_t severity, const std::string& text,
                      const std::string& procedure = std::string(),
                      uint8_t state = 1);

class Reply {
 public:
  Reply(Channel* channel, Charset* charset)
      : channel_(channel), charset_(charset) {}

  void set_tds72(bool tds72) { tds72_ = tds72; }
  bool tds72() const { return tds72_; }
  // The TDS version the login was answered with (0x74000004 for 7.4); sets
  // tds72 too.
  void set_tds_version(uint32_t version) {
    tds_version_ = version;
    tds72_ = version >= 0x72000000;
  }
  uint32_t tds_version() const { return tds_version_; }
  Channel* channel() { return channel_; }
  Charset* charset() { return charset_; }

  // ERROR (or INFO when severity <= 10). Texts are GB18030 bytes.
  void Message(int32_t number, uint8_t severity, const std::string& text,
               const std::string& procedure = std::string(), uint8_t state = 1);
  void Done(DoneToken token, uint16_t status, uint64_t count = 0,
            uint16_t command = 0xC1);
  void Write(ByteWriter* w) {
    channel_->Write(w->bytes());
    w->Clear();
  }

 private:
  Channel* channel_;
  Charset* charset_;
  bool tds72_ = true;
  uint32_t tds_version_ = 0x74000004;
};

// How a streamed result set ended.
struct StreamOutcome {
  enum End { kDone, kAttention, kError, kFaultClose };
  End end = kDone;
  uint64_t rows = 0;
  std::string error;  // SQLite's message for kError
};

// Steps stmt to its end, sending COLMETADATA and one row per row (NBCROW
// from TDS 7.3 when shorter, see PutRow). Column types come from the first
// row (integer that fits 32 bits: INTN 4, larger: INTN 8; real: FLTN 8; text
// and blob: BIGVARCHAR 8000 with the collation; NULL: the declared type, else
// varchar); later rows are converted to them (a longer text is cut at a
// GB18030 character boundary, at most 8000 bytes). Stops after the row being
// written when the client sends an attention, and after close_after_rows rows
// when that is not negative (the caller closes). A first step that fails
// sends nothing. The statement is left for the caller to reset.
//
// A column of a table, selected as it stands, travels as its declaration
// says when that names a SQL Server type (see sql_types.h: ColumnFor; text as
// varchar 8000) and its first value is of that kind (a number
// for the numeric types, text for datetimes); the N kinds' stored GB18030
// texts go as UTF-16LE. It is NOT NULL when the table declares it so, unless
// the statement has an outer join or a compound SELECT. A NULL that still
// shows in such a column ends the result as an error before that row.
StreamOutcome StreamResultSet(Reply* reply, sqlite3_stmt* stmt,
                              int64_t close_after_rows);

// COLMETADATA for stmt without stepping it (SET FMTONLY ON): the types come
// from the declarations as above, else varchar.
void SendColumnMetadata(Reply* reply, sqlite3_stmt* stmt);

}  // namespace venuedb

#endif  // VENUEDB_SRC_REPLY_H_
