#include "venue_shape.h"

#include <cctype>
#include <cstring>
#include <string>

#include "sqlite_handles.h"
#include "store.h"

namespace venuedb {

namespace {

// A column of the venue schema and the type a Unicode venue declares it with.
struct Redeclared {
  const char* table;
  const char* column;
  const char* type;
};

// The texts the video servers read, and numbers of the kinds such a venue's
// tables use. Key columns (INTEGER PRIMARY KEY) keep their declaration.
constexpr Redeclared kUnicodeColumns[] = {
    {"languages", "language_name", "NVARCHAR(20)"},
    {"medias", "media_name", "NVARCHAR(100)"},
    {"medias", "media_code", "NVARCHAR(20)"},
    {"medias", "artist_name", "NVARCHAR(50)"},
    {"medias", "volume", "TINYINT"},
    {"medias", "vocal_channel", "TINYINT"},
    {"medias", "stroke_count", "SMALLINT"},
    {"medias", "head_stroke", "NVARCHAR(10)"},
    {"medias", "sound_initials", "NVARCHAR(50)"},
    {"server_groups", "group_name", "NVARCHAR(50)"},
    {"server_groups", "is_valid", "BIT"},
    {"fileservers", "fileserver_name", "NVARCHAR(50)"},
    {"fileservers", "fileserver_IpAddress", "NVARCHAR(20)"},
    {"fileservers", "max_connections", "SMALLINT"},
    {"fileservers", "is_enabled", "BIT"},
    {"media_files", "file_path", "NVARCHAR(1024)"},
    {"fileserver_connections", "fileserver_ipaddress", "NVARCHAR(20)"},
    {"fileserver_connections", "totalconnection_count", "NUMERIC(10,0)"},
    {"rooms", "room_info", "NVARCHAR(50)"},
    {"rooms", "room_address", "NVARCHAR(20)"},
    {"rooms", "room_number", "SMALLINT"},
    {"rooms", "room_serialno", "NCHAR(20)"},
    {"configures", "Configure_Set01", "SMALLINT"},
    {"media_charts", "play_count", "NUMERIC(12,0)"},
    {"advertisements", "ad_title", "NVARCHAR(100)"},
    {"advertisements", "is_enabled", "BIT"},
    {"fire_alerts", "ipaddress", "NVARCHAR(20)"},
    {"fire_alerts", "zone_name", "NVARCHAR(50)"},
    {"fire_alerts", "alarm_level", "TINYINT"},
    {"fire_alerts", "exit_hint", "NTEXT"},
    {"fire_alerts", "video_format", "NVARCHAR(10)"},
    {"fire_alerts", "video_file", "NVARCHAR(260)"},
    {"fire_alerts", "is_enabled", "BIT"},
    {"fire_alarm_settings", "default_video_file", "NVARCHAR(260)"},
    // SQLite takes (max) only inside a quoted type name.
    {"fire_alarm_settings", "home_page", "\"NVARCHAR(MAX)\""},
    {"trade_logs", "room_address", "NVARCHAR(20)"},
    {"trade_logs", "reserved", "NVARCHAR(200)"},
    {"play_records", "room_address", "NVARCHAR(20)"},
    {"authorizations", "room_address", "NVARCHAR(20)"},
    {"authorizations", "allowed", "BIT"},
    {"authorizations", "reason", "NVARCHAR(100)"},
};

bool Exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = "venue shape: " + std::string(message ? message : "unknown error");
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool TableSql(sqlite3* db, const char* table, std::string* sql) {
  Statement stmt = Prepare(db,
                           "SELECT sql FROM sqlite_master"
                           " WHERE type = 'table' AND name = ?1");
  if (stmt == nullptr) return false;
  sqlite3_bind_text(stmt.get(), 1, table, -1, SQLITE_STATIC);
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
  const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
  if (text == nullptr) return false;
  *sql = reinterpret_cast<const char*>(text);
  return true;
}

bool StoreTableSql(sqlite3* db, const char* table, const std::string& sql) {
  Statement stmt = Prepare(db,
                           "UPDATE sqlite_master SET sql = ?1"
                           " WHERE type = 'table' AND name = ?2");
  if (stmt == nullptr) return false;
  sqlite3_bind_text(stmt.get(), 1, sql.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(stmt.get(), 2, table, -1, SQLITE_STATIC);
  return sqlite3_step(stmt.get()) == SQLITE_DONE;
}

// The table's CREATE text with `column`'s type word (the one after its name
// at the start of a line) replaced by `type`.
bool Redeclare(std::string* sql, const std::string& column,
               const std::string& type) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  for (size_t line = sql->find('\n'); line != std::string::npos;
       line = sql->find('\n', line + 1)) {
    size_t at = line + 1;
    while (at < sql->size() && blank((*sql)[at])) ++at;
    if (sql->compare(at, column.size(), column) != 0) continue;
    at += column.size();
    const size_t word = at;
    while (at < sql->size() && blank((*sql)[at])) ++at;
    if (at == word) continue;  // a longer name that starts with this one
    for (const char* declared : {"TEXT", "INTEGER"}) {
      const size_t length = std::strlen(declared);
      const size_t after = at + length;
      if (sql->compare(at, length, declared) == 0 &&
          (after == sql->size() ||
           !std::isalnum(static_cast<unsigned char>((*sql)[after])))) {
        sql->replace(at, length, type);
        return true;
      }
    }
    return false;
  }
  return false;
}

// Every column of kUnicodeColumns re-declared, table by table.
bool RedeclareUnicodeColumns(sqlite3* db, std::string* error) {
  const char* table = nullptr;
  std::string sql;
  for (const Redeclared& c : kUnicodeColumns) {
    if (table == nullptr || std::string(table) != c.table) {
      if (table != nullptr && !StoreTableSql(db, table, sql)) {
        *error = std::string("venue shape: ") + sqlite3_errmsg(db);
        return false;
      }
      table = c.table;
      if (!TableSql(db, table, &sql)) {
        *error = std::string("venue shape: no table ") + table;
        return false;
      }
    }
    if (!Redeclare(&sql, c.column, c.type)) {
      *error = std::string("venue shape: ") + table + "." + c.column +
               " is not declared TEXT or INTEGER";
      return false;
    }
  }
  if (!StoreTableSql(db, table, sql)) {
    *error = std::string("venue shape: ") + sqlite3_errmsg(db);
    return false;
  }
  return true;
}

int SchemaVersion(sqlite3* db) {
  Statement stmt = Prepare(db, "PRAGMA schema_version");
  if (stmt == nullptr || sqlite3_step(stmt.get()) != SQLITE_ROW) return 0;
  return sqlite3_column_int(stmt.get(), 0);
}

}  // namespace

bool ParseVenueShape(const std::string& name, VenueShape* shape) {
  if (name == "gbk") {
    *shape = VenueShape::kGbk;
  } else if (name == "unicode") {
    *shape = VenueShape::kUnicode;
  } else if (name == "latin1") {
    *shape = VenueShape::kLatin1;
  } else {
    return false;
  }
  return true;
}

const char* VenueShapeNames() { return "gbk, unicode, latin1"; }

const Collation& VenueShapeCollation(VenueShape shape) {
  if (shape == VenueShape::kLatin1) {
    return *FindCollation("SQL_Latin1_General_CP1_CI_AS");
  }
  return kDefaultCollation;
}

bool ApplyVenueShape(sqlite3* db, VenueShape shape, std::string* error) {
  if (shape != VenueShape::kUnicode) return true;
  // SQLite keeps a table's declaration as its CREATE text; rewriting only type
  // names there re-declares columns in place, and a new schema version makes
  // every connection read the declarations again.
  if (!Exec(db, "BEGIN; PRAGMA writable_schema = ON;", error)) return false;
  if (!RedeclareUnicodeColumns(db, error)) {
    std::string ignored;
    Exec(db, "PRAGMA writable_schema = OFF; ROLLBACK;", &ignored);
    return false;
  }
  const std::string version =
      "PRAGMA schema_version = " + std::to_string(SchemaVersion(db) + 1) +
      "; PRAGMA writable_schema = OFF; COMMIT;";
  return Exec(db, version.c_str(), error) &&
         Exec(db, "PRAGMA integrity_check", error);
}

bool InitVenueDatabase(const std::string& path, VenueShape shape,
                       const Collation& collation, std::string* error) {
  if (!InitDatabase(path, error, collation)) return false;
  if (shape != VenueShape::kUnicode) return true;
  DbHandle db = OpenDatabase(path, error);
  return db != nullptr && ApplyVenueShape(db.get(), shape, error);
}

}  // namespace venuedb
