#include "globals.h"

#include <cctype>

#include "sql_words.h"

namespace venuedb {

namespace {

void Global(sqlite3_context* context, int, sqlite3_value** argv) {
  const auto* values =
      static_cast<const GlobalValues*>(sqlite3_user_data(context));
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::string name = text != nullptr ? text : "";
  if (name == "trancount") {
    sqlite3_result_int(context, values->TransactionCount());
  } else if (name == "spid") {
    sqlite3_result_int(context, values->ProcessId());
  } else if (name == "identity") {
    sqlite3_result_int64(
        context, sqlite3_last_insert_rowid(sqlite3_context_db_handle(context)));
  } else if (name == "rowcount") {
    // The rows the last write changed (a result's rows are not counted).
    sqlite3_result_int(context,
                       sqlite3_changes(sqlite3_context_db_handle(context)));
  } else if (name == "error") {
    // A statement that failed ended its batch: one that runs saw none.
    sqlite3_result_int(context, 0);
  } else if (name == "max_precision") {
    sqlite3_result_int(context, 38);
  } else if (name == "servername" || name == "servicename") {
    sqlite3_result_text(context, "VENUEDB", -1, SQLITE_STATIC);
  } else if (name == "language") {
    sqlite3_result_text(context, "us_english", -1, SQLITE_STATIC);
  } else if (name == "version") {
    const std::string version =
        std::string("venuedb, the venue's test database server, over SQLite ") +
        sqlite3_libversion();
    sqlite3_result_text(context, version.c_str(), -1, SQLITE_TRANSIENT);
  } else {
    const std::string message =
        "Must declare the scalar variable \"@@" + name + "\".";
    sqlite3_result_error(context, message.c_str(), -1);
  }
}

}  // namespace

size_t GlobalsExpansion::Original(size_t at) const {
  size_t out_end = 0, in_end = 0;
  for (const auto& [out, in] : ends) {
    if (out > at) break;
    out_end = out;
    in_end = in;
  }
  return in_end + (at - out_end);
}

namespace {

bool StartsWordNoCase(const std::string& sql, size_t i, const char* word) {
  const size_t n = std::char_traits<char>::length(word);
  if (i + n > sql.size() || (i > 0 && IsWordChar(sql[i - 1])) ||
      (i + n < sql.size() && IsWordChar(sql[i + n]))) {
    return false;
  }
  for (size_t k = 0; k < n; ++k) {
    if (std::tolower(static_cast<unsigned char>(sql[i + k])) != word[k])
      return false;
  }
  return true;
}

// Where the parenthesised text from sql[i] reaches `,` (when comma) or the
// `)` closing the level it starts at, outside quotes; sql.size() when neither
// comes.
size_t FindAtLevel(const std::string& sql, size_t i, bool comma) {
  int depth = 0;
  while (i < sql.size()) {
    const size_t skipped = SkipQuotedOrComment(sql, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    if (sql[i] == '(') ++depth;
    if (sql[i] == ')' && depth-- == 0) return i;
    if (comma && sql[i] == ',' && depth == 0) return i;
    ++i;
  }
  return sql.size();
}

// The SQLite type a CAST needs for a SQL Server type: texts and dates stay
// text (SQLite would read "datetime" as a number).
std::string CastType(const std::string& type) {
  std::string lower;
  for (char c : type) {
    if (!std::isspace(static_cast<unsigned char>(c)))
      lower.push_back(
          static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  if (lower.find("char") != std::string::npos ||
      lower.find("text") != std::string::npos ||
      lower.find("date") != std::string::npos ||
      lower.find("time") != std::string::npos) {
    return "TEXT";
  }
  if (lower.find("int") != std::string::npos || lower == "bit") {
    return "INTEGER";
  }
  if (lower == "float" || lower == "real" ||
      lower.find("decimal") != std::string::npos ||
      lower.find("numeric") != std::string::npos ||
      lower.find("money") != std::string::npos) {
    return "REAL";
  }
  return type;
}

}  // namespace

bool NeedsExpansion(const std::string& sql, size_t pos) {
  if (sql.find("@@", pos) != std::string::npos) return true;
  for (size_t i = sql.find_first_of("cC", pos); i != std::string::npos;
       i = sql.find_first_of("cC", i + 1)) {
    if (StartsWordNoCase(sql, i, "convert")) return true;
  }
  return false;
}

GlobalsExpansion ExpandGlobals(const std::string& sql) {
  GlobalsExpansion expansion;
  std::string& out = expansion.sql;
  out.reserve(sql.size());
  // CONVERT(type, value[, style]) is written CAST(value AS type): each open
  // one's paren level and SQLite type, innermost last.
  std::vector<std::pair<int, std::string>> converts;
  int depth = 0;
  size_t i = 0;
  while (i < sql.size()) {
    const size_t skipped = SkipQuotedOrComment(sql, i);
    if (skipped != i) {
      out.append(sql, i, skipped - i);
      i = skipped;
      continue;
    }
    if (sql.compare(i, 2, "@@") == 0 && i + 2 < sql.size() &&
        IsWordChar(sql[i + 2])) {
      size_t end = i + 2;
      std::string name;
      while (end < sql.size() && IsWordChar(sql[end])) {
        name += static_cast<char>(
            std::tolower(static_cast<unsigned char>(sql[end])));
        ++end;
      }
      out += "vdb_global('" + name + "')";
      i = end;
      expansion.ends.emplace_back(out.size(), i);
      continue;
    }
    if (StartsWordNoCase(sql, i, "convert")) {
      size_t open = i + 7;
      while (open < sql.size() &&
             std::isspace(static_cast<unsigned char>(sql[open])))
        ++open;
      const size_t comma = open < sql.size() && sql[open] == '('
                               ? FindAtLevel(sql, open + 1, true)
                               : sql.size();
      if (comma < sql.size() && sql[comma] == ',') {
        out += "CAST(";
        converts.emplace_back(++depth,
                              CastType(sql.substr(open + 1, comma - open - 1)));
        i = comma + 1;
        expansion.ends.emplace_back(out.size(), i);
        continue;
      }
    }
    if ((sql[i] == ',' || sql[i] == ')') && !converts.empty() &&
        converts.back().first == depth) {
      // The value ends here; a style after it has no meaning for CAST.
      const size_t close = sql[i] == ')' ? i : FindAtLevel(sql, i + 1, false);
      out += " AS " + converts.back().second + ")";
      converts.pop_back();
      --depth;
      i = close < sql.size() ? close + 1 : sql.size();
      expansion.ends.emplace_back(out.size(), i);
      continue;
    }
    if (sql[i] == '(') ++depth;
    if (sql[i] == ')') --depth;
    out += sql[i++];
  }
  return expansion;
}

void DefineGlobals(sqlite3* db, const GlobalValues* values) {
  sqlite3_create_function_v2(db, "vdb_global", 1, SQLITE_UTF8,
                             const_cast<GlobalValues*>(values), &Global,
                             nullptr, nullptr, nullptr);
}

}  // namespace venuedb
