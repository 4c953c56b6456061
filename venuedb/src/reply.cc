#include "reply.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "sql_words.h"

namespace venuedb {

namespace {

const char kServerName[] = "VENUEDB";

// A SQL Server type named by a column's declaration: int/integer, bigint,
// smallint, tinyint, char(n), varchar(n), float/real/double and text
// (varchar 8000). Anything else (no declaration, bit, numeric, datetime,
// varchar(max), ...) is not one and leaves the column to its values.
struct DeclaredType {
  bool known = false;
  WireType type = WireType::kVarchar;
  uint16_t max_length = 8000;
};

DeclaredType ReadDeclared(const char* declared) {
  DeclaredType out;
  if (!declared) return out;
  std::string base;
  const char* p = declared;
  for (; *p && *p != '('; ++p) {
    if (!std::isspace(static_cast<unsigned char>(*p)))
      base.push_back(
          static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
  }
  long length = -1;
  if (*p == '(') {
    char* tail = nullptr;
    length = std::strtol(p + 1, &tail, 10);
    while (tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
    if (!tail || *tail != ')' || length < 1 || length > 8000) return out;
  }
  out.known = true;
  if (base == "int" || base == "integer") {
    out.type = WireType::kInt4;
  } else if (base == "bigint") {
    out.type = WireType::kInt8;
  } else if (base == "smallint") {
    out.type = WireType::kInt2;
  } else if (base == "tinyint") {
    out.type = WireType::kInt1;
  } else if (base == "float" || base == "real" || base == "double" ||
             base == "doubleprecision") {
    out.type = WireType::kFloat8;
  } else if (base == "char" || base == "character") {
    out.type = WireType::kChar;
    out.max_length = static_cast<uint16_t>(length < 0 ? 1 : length);
  } else if (base == "varchar" && length > 0) {
    out.max_length = static_cast<uint16_t>(length);
  } else if (base != "text") {
    out.known = false;
  }
  if (length > 0 && out.type != WireType::kChar && base != "varchar") {
    out.known = false;  // int(11) and the like: not a SQL Server spelling
  }
  return out;
}

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

bool IsNumeric(WireType type) {
  return type != WireType::kVarchar && type != WireType::kChar &&
         type != WireType::kNVarchar;
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
    if (!sqlite3_column_table_name(stmt, i)) continue;
    DeclaredType declared = ReadDeclared(sqlite3_column_decltype(stmt, i));
    const int stored = have_row ? sqlite3_column_type(stmt, i) : SQLITE_NULL;
    const bool fits =
        !IsNumeric(declared.type) || stored == SQLITE_NULL ||
        stored == SQLITE_INTEGER ||
        (stored == SQLITE_FLOAT && declared.type == WireType::kFloat8);
    if (!declared.known || !fits) continue;
    // An int too large for its declaration keeps its value as a bigint.
    if (!(declared.type == WireType::kInt4 && c.type == WireType::kInt8)) {
      c.type = declared.type;
    }
    c.max_length = declared.max_length;
    c.nullable = widens || !DeclaredNotNull(stmt, i);
  }
  return columns;
}

// One ROW token, straight from the statement's current row. False, with
// nothing written, when a column sent as NOT NULL holds NULL (*column names
// it).
bool PutStatementRow(ByteWriter* w, sqlite3_stmt* stmt,
                     const std::vector<ColumnInfo>& cols, int* column) {
  for (size_t i = 0; i < cols.size(); ++i) {
    if (!cols[i].nullable &&
        sqlite3_column_type(stmt, static_cast<int>(i)) == SQLITE_NULL) {
      *column = static_cast<int>(i);
      return false;
    }
  }
  w->U8(0xD1);
  for (size_t i = 0; i < cols.size(); ++i) {
    int col = static_cast<int>(i);
    if (sqlite3_column_type(stmt, col) == SQLITE_NULL) {
      PutNullValue(w, cols[i].type);
      continue;
    }
    switch (cols[i].type) {
      case WireType::kInt1:
      case WireType::kInt2:
      case WireType::kInt4:
      case WireType::kInt8:
        PutIntValue(w, cols[i].type, sqlite3_column_int64(stmt, col),
                    cols[i].nullable);
        break;
      case WireType::kFloat8:
        PutFloatValue(w, sqlite3_column_double(stmt, col), cols[i].nullable);
        break;
      case WireType::kVarchar:
      case WireType::kChar:
      case WireType::kNVarchar: {
        // Text first, so numbers become their decimal text; blobs keep their
        // bytes.
        const void* data =
            sqlite3_column_type(stmt, col) == SQLITE_BLOB
                ? sqlite3_column_blob(stmt, col)
                : static_cast<const void*>(sqlite3_column_text(stmt, col));
        const size_t size =
            static_cast<size_t>(sqlite3_column_bytes(stmt, col));
        if (cols[i].type == WireType::kChar) {
          PutCharValue(w, data, size, cols[i].max_length);
        } else {
          PutBytesValue(w, data, size, cols[i].max_length);
        }
        break;
      }
    }
  }
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
    if (!PutStatementRow(&w, stmt, columns, &null_column)) {
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
