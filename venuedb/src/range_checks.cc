#include "range_checks.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "sqlite_handles.h"

namespace venuedb {

namespace {

constexpr char kFunction[] = "vdb_overflow";
constexpr char kOverflowPrefix[] = "Arithmetic overflow error ";

// The schema versions (main, temp) each connection's checks were installed
// at; an entry goes when its connection closes (the function's destructor).
std::mutex g_mutex;
std::map<sqlite3*, std::pair<int64_t, int64_t>> g_installed;

struct Owner {
  sqlite3* db;
};

void ForgetConnection(void* p) {
  auto* owner = static_cast<Owner*>(p);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_installed.erase(owner->db);
  }
  delete owner;
}

// vdb_overflow(declared type, value): always fails with SQL Server's message.
void Overflow(sqlite3_context* context, int, sqlite3_value** argv) {
  const char* declared =
      reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  Value v;
  switch (sqlite3_value_type(argv[1])) {
    case SQLITE_INTEGER:
      v = Value::Int(sqlite3_value_int64(argv[1]));
      break;
    case SQLITE_FLOAT:
      v.kind = Value::kReal;
      v.real = sqlite3_value_double(argv[1]);
      break;
    default: {
      const unsigned char* text = sqlite3_value_text(argv[1]);
      v = Value::Text(text ? reinterpret_cast<const char*>(text) : "");
      break;
    }
  }
  const SqlError e = WriteOverflow(ParseSqlType(declared ? declared : ""), v);
  sqlite3_result_error(context, e.message.c_str(), -1);
}

int64_t SchemaVersion(sqlite3* db, const char* pragma) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, pragma, -1, &raw, nullptr) != SQLITE_OK) return -1;
  Statement stmt(raw);
  return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : -1;
}

std::string Quoted(const std::string& name, char quote) {
  std::string out(1, quote);
  for (char c : name) {
    out.push_back(c);
    if (c == quote) out.push_back(c);
  }
  out.push_back(quote);
  return out;
}

// The condition under which a value of column `c` (a NEW."c" expression)
// does not fit, or empty for a type that is not checked.
std::string Condition(const SqlType& type, const std::string& c) {
  const std::string number = "typeof(" + c + ") IN ('integer', 'real') AND ";
  char text[160];
  switch (type.base) {
    case SqlType::kTinyInt:
      return number + c + " NOT BETWEEN 0 AND 255";
    case SqlType::kSmallInt:
      return number + c + " NOT BETWEEN -32768 AND 32767";
    case SqlType::kInt:
      return number + c + " NOT BETWEEN -2147483648 AND 2147483647";
    case SqlType::kMoney:
      return number + "abs(" + c + ") > 922337203685477.5807";
    case SqlType::kSmallMoney:
      return number + "abs(" + c + ") > 214748.3647";
    case SqlType::kNumeric:
    case SqlType::kDecimal:
      std::snprintf(text, sizeof text, "abs(round(%s, %d)) >= 1e%d", c.c_str(),
                    type.scale, type.precision - type.scale);
      return number + text;
    default:
      return std::string();
  }
}

struct CheckedColumn {
  std::string table, column, declared;
};

bool CheckedColumns(sqlite3* db, std::vector<CheckedColumn>* out) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(
          db,
          "SELECT m.name, p.name, p.type FROM main.sqlite_master m, "
          "pragma_table_info(m.name) p WHERE m.type = 'table' AND m.name NOT "
          "LIKE 'sqlite\\_%' ESCAPE '\\' AND p.type <> 'INTEGER'",
          -1, &raw, nullptr) != SQLITE_OK) {
    return false;
  }
  Statement stmt(raw);
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    auto text = [raw](int i) {
      const unsigned char* p = sqlite3_column_text(raw, i);
      return std::string(p ? reinterpret_cast<const char*>(p) : "");
    };
    CheckedColumn c{text(0), text(1), text(2)};
    if (!Condition(ParseSqlType(c.declared), "x").empty()) out->push_back(c);
  }
  return rc == SQLITE_DONE;
}

// False when the checks could not be read or written (a lock held
// elsewhere): the next call tries again.
bool Install(sqlite3* db) {
  std::string sql;
  {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT name FROM temp.sqlite_master WHERE type = "
                           "'trigger' AND name LIKE 'vdb\\_range\\_%' ESCAPE "
                           "'\\'",
                           -1, &raw, nullptr) == SQLITE_OK) {
      Statement stmt(raw);
      while (sqlite3_step(raw) == SQLITE_ROW) {
        sql +=
            "DROP TRIGGER temp." +
            Quoted(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)),
                   '"') +
            ";";
      }
    }
  }
  std::vector<CheckedColumn> columns;
  if (!CheckedColumns(db, &columns)) return false;
  int n = 0;
  for (const CheckedColumn& c : columns) {
    const std::string value = "NEW." + Quoted(c.column, '"');
    const std::string when = Condition(ParseSqlType(c.declared), value);
    const std::string body = " BEGIN SELECT " + std::string(kFunction) + "(" +
                             Quoted(c.declared, '\'') + ", " + value +
                             "); END;";
    const std::string table = "main." + Quoted(c.table, '"');
    sql += "CREATE TEMP TRIGGER vdb_range_" + std::to_string(n++) +
           " BEFORE INSERT ON " + table + " WHEN " + when + body;
    sql += "CREATE TEMP TRIGGER vdb_range_" + std::to_string(n++) +
           " BEFORE UPDATE OF " + Quoted(c.column, '"') + " ON " + table +
           " WHEN " + when + body;
  }
  return sql.empty() ||
         sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

void EnsureRangeChecks(sqlite3* db) {
  const int64_t main_version = SchemaVersion(db, "PRAGMA main.schema_version");
  const int64_t temp_version = SchemaVersion(db, "PRAGMA temp.schema_version");
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_installed.find(db);
    if (it != g_installed.end()) {
      if (it->second == std::make_pair(main_version, temp_version)) return;
      known = true;
    }
  }
  if (!known) {
    sqlite3_create_function_v2(db, kFunction, 2, SQLITE_UTF8, new Owner{db},
                               &Overflow, nullptr, nullptr, &ForgetConnection);
  }
  if (!Install(db)) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_installed[db] = {SchemaVersion(db, "PRAGMA main.schema_version"),
                     SchemaVersion(db, "PRAGMA temp.schema_version")};
}

bool RangeCheckError(const std::string& sqlite_message, SqlError* error) {
  if (sqlite_message.compare(0, sizeof kOverflowPrefix - 1, kOverflowPrefix) !=
      0) {
    return false;
  }
  error->number =
      sqlite_message.find(" for data type ") != std::string::npos ? 220 : 8115;
  error->message = sqlite_message;
  return true;
}

}  // namespace venuedb
