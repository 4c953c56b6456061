#include "reply.h"

#include <cctype>
#include <vector>

namespace venuedb {

namespace {

const char kServerName[] = "VENUEDB";

WireType TypeFromDeclared(const char* declared) {
  if (!declared) return WireType::kVarchar;
  std::string d;
  for (const char* p = declared; *p; ++p) {
    d.push_back(
        static_cast<char>(std::toupper(static_cast<unsigned char>(*p))));
  }
  if (d.find("BIGINT") != std::string::npos) return WireType::kInt8;
  if (d.find("INT") != std::string::npos || d == "BIT") return WireType::kInt4;
  if (d.find("REAL") != std::string::npos ||
      d.find("FLOA") != std::string::npos ||
      d.find("DOUB") != std::string::npos) {
    return WireType::kFloat8;
  }
  return WireType::kVarchar;
}

std::vector<ColumnInfo> DecideColumns(Reply* reply, sqlite3_stmt* stmt,
                                      bool have_row) {
  int count = sqlite3_column_count(stmt);
  std::vector<ColumnInfo> columns(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    ColumnInfo& c = columns[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(stmt, i);
    c.name_utf16 = reply->charset()->GbToUtf16(name ? name : "");
    int type = have_row ? sqlite3_column_type(stmt, i) : SQLITE_NULL;
    switch (type) {
      case SQLITE_INTEGER: {
        int64_t v = sqlite3_column_int64(stmt, i);
        c.type = (v >= INT32_MIN && v <= INT32_MAX) ? WireType::kInt4
                                                    : WireType::kInt8;
        break;
      }
      case SQLITE_FLOAT:
        c.type = WireType::kFloat8;
        break;
      case SQLITE_NULL:
        c.type = TypeFromDeclared(sqlite3_column_decltype(stmt, i));
        break;
      default:
        c.type = WireType::kVarchar;
        break;
    }
  }
  return columns;
}

// One ROW token, straight from the statement's current row.
void PutStatementRow(ByteWriter* w, sqlite3_stmt* stmt,
                     const std::vector<ColumnInfo>& cols) {
  w->U8(0xD1);
  for (size_t i = 0; i < cols.size(); ++i) {
    int col = static_cast<int>(i);
    if (sqlite3_column_type(stmt, col) == SQLITE_NULL) {
      PutNullValue(w, cols[i].type);
      continue;
    }
    switch (cols[i].type) {
      case WireType::kInt4:
      case WireType::kInt8:
        PutIntValue(w, cols[i].type, sqlite3_column_int64(stmt, col));
        break;
      case WireType::kFloat8:
        PutFloatValue(w, sqlite3_column_double(stmt, col));
        break;
      case WireType::kVarchar:
      case WireType::kNVarchar: {
        // Text first, so numbers become their decimal text; blobs keep their
        // bytes.
        const void* data =
            sqlite3_column_type(stmt, col) == SQLITE_BLOB
                ? sqlite3_column_blob(stmt, col)
                : static_cast<const void*>(sqlite3_column_text(stmt, col));
        PutBytesValue(w, data,
                      static_cast<size_t>(sqlite3_column_bytes(stmt, col)),
                      cols[i].max_length);
        break;
      }
    }
  }
}

}  // namespace

void Reply::Message(int32_t number, uint8_t severity, const std::string& text,
                    const std::string& procedure, uint8_t state) {
  ByteWriter w;
  PutMessage(&w, tds72_, severity > 10 ? 0xAA : 0xAB, number, state, severity,
             charset_->GbToUtf16(text), AsciiToUtf16(kServerName),
             charset_->GbToUtf16(procedure), 1);
  Write(&w);
}

void Reply::Done(DoneToken token, uint16_t status, uint64_t count,
                 uint16_t command) {
  ByteWriter w;
  PutDone(&w, tds72_, token, status, command, count);
  Write(&w);
}

StreamOutcome StreamResultSet(Reply* reply, sqlite3_stmt* stmt,
                              int64_t close_after_rows) {
  StreamOutcome out;
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    out.end = StreamOutcome::kError;
    out.error = sqlite3_errmsg(sqlite3_db_handle(stmt));
    return out;
  }
  std::vector<ColumnInfo> columns =
      DecideColumns(reply, stmt, rc == SQLITE_ROW);
  ByteWriter w;
  PutColMetadata(&w, reply->tds72(), columns);
  reply->Write(&w);
  Channel* channel = reply->channel();
  while (rc == SQLITE_ROW) {
    if (close_after_rows >= 0 &&
        static_cast<int64_t>(out.rows) >= close_after_rows) {
      out.end = StreamOutcome::kFaultClose;
      return out;
    }
    PutStatementRow(&w, stmt, columns);
    channel->Write(w.bytes());
    w.Clear();
    ++out.rows;
    if (channel->attention()) {
      out.end = StreamOutcome::kAttention;
      return out;
    }
    rc = sqlite3_step(stmt);
  }
  if (close_after_rows >= 0 &&
      static_cast<int64_t>(out.rows) >= close_after_rows) {
    out.end = StreamOutcome::kFaultClose;
    return out;
  }
  if (rc != SQLITE_DONE) {
    out.end = StreamOutcome::kError;
    out.error = sqlite3_errmsg(sqlite3_db_handle(stmt));
  }
  return out;
}

}  // namespace venuedb
