#include "reply.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "declared_type.h"
#include "sql_types.h"
#include "sql_words.h"

namespace venuedb {

namespace {

const char kServerName[] = "VENUEDB";

// The old rule for a column without a usable declaration: what SQLite's
// loose declaration names, as far as it goes.
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

// Whether a column of the type can take the first value SQLite holds
// (stored, an SQLITE_ type code).
bool Fits(WireType type, int stored) {
  if (stored == SQLITE_NULL || IsTextual(type)) return true;
  switch (type) {
    case WireType::kDateTime:
    case WireType::kDateTime4:
      return stored == SQLITE_TEXT;
    case WireType::kInt1:
    case WireType::kInt2:
    case WireType::kInt4:
    case WireType::kInt8:
    case WireType::kBit:
      return stored == SQLITE_INTEGER;
    default:
      return stored == SQLITE_INTEGER || stored == SQLITE_FLOAT;
  }
}

// Whether the statement can give NULL in a column whose table forbids it:
// an outer join, or a compound SELECT whose later parts are not that column.
bool MayWidenNulls(sqlite3_stmt* stmt) {
  const char* sql = sqlite3_sql(stmt);
  if (!sql) return true;
  const std::string_view text(sql);
  for (size_t i = 0; i < text.size();) {
    if (const size_t end = SkipQuotedOrComment(text, i); end != i) {
      i = end;
      continue;
    }
    size_t end = i;
    const std::string word = LowerWordAt(text, i, &end);
    if (word.empty()) {
      ++i;
      continue;
    }
    for (const char* widening :
         {"left", "right", "full", "outer", "union", "except", "intersect"}) {
      if (word == widening) return true;
    }
    i = end;
  }
  return false;
}

// Whether the column is a table's column declared NOT NULL (or its INTEGER
// PRIMARY KEY), selected as it stands.
bool DeclaredNotNull(sqlite3_stmt* stmt, int i) {
  const char* table = sqlite3_column_table_name(stmt, i);
  const char* column = sqlite3_column_origin_name(stmt, i);
  if (!table || !column) return false;
  const char* declared = nullptr;
  int not_null = 0, primary_key = 0;
  if (sqlite3_table_column_metadata(
          sqlite3_db_handle(stmt), sqlite3_column_database_name(stmt, i), table,
          column, &declared, nullptr, &not_null, &primary_key,
          nullptr) != SQLITE_OK) {
    return false;
  }
  return not_null != 0 ||
         (primary_key != 0 && declared && SameName(declared, "INTEGER"));
}

// Whether a TEXT column of a table was declared as SQL Server's text (any
// spelling but venuedb's own "TEXT").
bool IsServerText(sqlite3_stmt* stmt, int i) {
  const char* origin = sqlite3_column_origin_name(stmt, i);
  if (origin == nullptr) return false;
  const std::string written = DeclaredTypeAsWritten(
      sqlite3_db_handle(stmt), sqlite3_column_database_name(stmt, i),
      sqlite3_column_table_name(stmt, i), origin);
  return !written.empty() && written != "TEXT";
}

// The column's type from its value in the first row (have_row), else from its
// declaration.
WireType TypeFromValue(sqlite3_stmt* stmt, int i, bool have_row) {
  switch (have_row ? sqlite3_column_type(stmt, i) : SQLITE_NULL) {
    case SQLITE_INTEGER: {
      int64_t v = sqlite3_column_int64(stmt, i);
      return (v >= INT32_MIN && v <= INT32_MAX) ? WireType::kInt4
                                                : WireType::kInt8;
    }
    case SQLITE_FLOAT:
      return WireType::kFloat8;
    case SQLITE_NULL:
      return TypeFromDeclared(sqlite3_column_decltype(stmt, i));
    default:
      return WireType::kVarchar;
  }
}

std::vector<ColumnInfo> DecideColumns(Reply* reply, sqlite3_stmt* stmt,
                                      bool have_row) {
  int count = sqlite3_column_count(stmt);
  std::vector<ColumnInfo> columns(static_cast<size_t>(count));
  const bool widens = MayWidenNulls(stmt);
  for (int i = 0; i < count; ++i) {
    ColumnInfo& c = columns[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(stmt, i);
    c.name_utf16 = reply->charset()->GbToUtf16(name ? name : "");
    c.type = TypeFromValue(stmt, i, have_row);
    c.collation = ColumnCollation(stmt, i, reply->charset()->collation());
    // A table's column travels as declared, as long as its first value is of
    // that kind (SQLite would store text in an INTEGER column).
    const char* table = sqlite3_column_table_name(stmt, i);
    if (!table) continue;
    const char* decl = sqlite3_column_decltype(stmt, i);
    SqlType declared = ParseSqlType(decl ? decl : "");
    if (declared.base == SqlType::kStoredText && IsServerText(stmt, i)) {
      declared.base = SqlType::kText;
    }
    if (declared.base == SqlType::kUnknown) continue;
    ColumnInfo typed = ColumnFor(declared, widens || !DeclaredNotNull(stmt, i),
                                 reply->tds_version());
    const int stored = have_row ? sqlite3_column_type(stmt, i) : SQLITE_NULL;
    if (!Fits(typed.type, stored)) continue;
    // An int too large for its declaration keeps its value as a bigint.
    if (typed.type == WireType::kInt4 && c.type == WireType::kInt8) {
      typed.type = WireType::kInt8;
    }
    typed.name_utf16 = std::move(c.name_utf16);
    typed.collation = c.collation;
    typed.table_utf16 = reply->charset()->GbToUtf16(table);
    c = std::move(typed);
  }
  return columns;
}

// The statement's current value of a column, as the column's type takes it:
// texts as stored (numbers as SQLite's decimal text, blobs as their bytes),
// UTF-16LE for the N kinds; numbers as numbers.
Value StatementValue(sqlite3_stmt* stmt, int col, const ColumnInfo& info,
                     Charset* charset) {
  const int stored = sqlite3_column_type(stmt, col);
  if (stored == SQLITE_NULL) return Value::Null();
  if (!IsTextual(info.type)) {
    if (stored == SQLITE_INTEGER)
      return Value::Int(sqlite3_column_int64(stmt, col));
    if (stored == SQLITE_FLOAT) {
      Value v;
      v.kind = Value::kReal;
      v.real = sqlite3_column_double(stmt, col);
      return v;
    }
  }
  // Text first, so numbers become their decimal text; blobs keep their bytes.
  const void* data =
      stored == SQLITE_BLOB
          ? sqlite3_column_blob(stmt, col)
          : static_cast<const void*>(sqlite3_column_text(stmt, col));
  std::string text(static_cast<const char*>(data),
                   static_cast<size_t>(sqlite3_column_bytes(stmt, col)));
  if (IsWide(info.type))
    text = charset->TextToUtf16(text, info.collation->code_page);
  return Value::Text(std::move(text));
}

// One row, straight from the statement's current row. False, with nothing
// written, when a column sent as NOT NULL holds NULL (*column names it).
bool PutStatementRow(ByteWriter* w, Reply* reply, sqlite3_stmt* stmt,
                     const std::vector<ColumnInfo>& cols, int* column) {
  std::vector<Value> values(cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    const int col = static_cast<int>(i);
    values[i] = StatementValue(stmt, col, cols[i], reply->charset());
    if (!cols[i].nullable && values[i].is_null()) {
      *column = col;
      return false;
    }
  }
  PutRow(w, cols, values, reply->tds_version() >= 0x73000000);
  return true;
}

}  // namespace

void PutServerMessage(ByteWriter* w, bool tds72, Charset* charset,
                      int32_t number, uint8_t severity, const std::string& text,
                      const std::string& procedure, uint8_t state) {
  PutMessage(w, tds72, severity > 10 ? 0xAA : 0xAB, number, state, severity,
             charset->GbToUtf16(text), AsciiToUtf16(kServerName),
             charset->GbToUtf16(procedure), 1);
}

void Reply::Message(int32_t number, uint8_t severity, const std::string& text,
                    const std::string& procedure, uint8_t state) {
  ByteWriter w;
  PutServerMessage(&w, tds72_, charset_, number, severity, text, procedure,
                   state);
  Write(&w);
}

void Reply::Done(DoneToken token, uint16_t status, uint64_t count,
                 uint16_t command) {
  ByteWriter w;
  PutDone(&w, tds72_, token, status, command, count);
  Write(&w);
}

void SendColumnMetadata(Reply* reply, sqlite3_stmt* stmt) {
  ByteWriter w;
  PutColMetadata(&w, reply->tds72(), DecideColumns(reply, stmt, false));
  reply->Write(&w);
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
    int null_column = 0;
    if (!PutStatementRow(&w, reply, stmt, columns, &null_column)) {
      // The declaration promised no NULL in a column a view or subquery
      // widened: end the result instead of sending a row the client cannot
      // read.
      out.end = StreamOutcome::kError;
      const char* name = sqlite3_column_name(stmt, null_column);
      out.error = std::string("Column '") + (name ? name : "") +
                  "' is declared NOT NULL but holds NULL in this result.";
      return out;
    }
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
