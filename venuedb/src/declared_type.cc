#include "declared_type.h"

#include <strings.h>

#include <cctype>
#include <string>

#include "sqlite_handles.h"

namespace venuedb {

namespace {

// Words that end a column's type and start its constraints.
constexpr const char* kConstraintWords[] = {
    "constraint", "primary", "not",        "null",      "unique", "check",
    "default",    "collate", "references", "generated", "as"};

bool IsConstraintWord(const std::string& word) {
  for (const char* w : kConstraintWords) {
    if (strcasecmp(word.c_str(), w) == 0) return true;
  }
  return false;
}

// One name or word at text[*at]: "quoted", [bracketed], `ticked` or bare;
// *at moves past it. The name without its quotes.
std::string NameAt(const std::string& text, size_t* at) {
  const char open = text[*at];
  const char close = open == '[' ? ']' : open;
  if (open == '"' || open == '[' || open == '`' || open == '\'') {
    const size_t end = text.find(close, *at + 1);
    const size_t stop = end == std::string::npos ? text.size() : end;
    std::string name = text.substr(*at + 1, stop - *at - 1);
    *at = stop == text.size() ? stop : stop + 1;
    return name;
  }
  const size_t begin = *at;
  while (*at < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[*at])) ||
          text[*at] == '_')) {
    ++*at;
  }
  return text.substr(begin, *at - begin);
}

void SkipBlanks(const std::string& text, size_t* at) {
  while (*at < text.size() &&
         std::isspace(static_cast<unsigned char>(text[*at]))) {
    ++*at;
  }
}

}  // namespace

std::string TypeInCreateTable(const std::string& sql,
                              const std::string& column) {
  size_t at = sql.find('(');
  if (at == std::string::npos) return std::string();
  // Each definition starts after the opening bracket or a comma at depth 0.
  while (at < sql.size()) {
    ++at;  // past '(' or ','
    SkipBlanks(sql, &at);
    if (at >= sql.size()) break;
    const std::string name = NameAt(sql, &at);
    if (!name.empty() && strcasecmp(name.c_str(), column.c_str()) == 0) {
      SkipBlanks(sql, &at);
      const size_t begin = at;
      size_t end = at;
      int depth = 0;
      while (at < sql.size()) {
        if (depth == 0 && (sql[at] == ',' || sql[at] == ')')) break;
        if (sql[at] == '(') ++depth;
        if (sql[at] == ')') --depth;
        if (depth == 0 && std::isalpha(static_cast<unsigned char>(sql[at]))) {
          size_t word_end = at;
          const std::string word = NameAt(sql, &word_end);
          if (IsConstraintWord(word)) break;
          at = word_end;
          end = at;
          continue;
        }
        ++at;
        if (!std::isspace(static_cast<unsigned char>(sql[at - 1]))) end = at;
      }
      return sql.substr(begin, end - begin);
    }
    // Past this definition: to the next comma at depth 0.
    int depth = 0;
    while (at < sql.size()) {
      const char c = sql[at];
      if (c == '\'' || c == '"' || c == '[' || c == '`') {
        NameAt(sql, &at);
        continue;
      }
      if (c == '(') ++depth;
      if (c == ')' && depth-- == 0) return std::string();
      if (c == ',' && depth == 0) break;
      ++at;
    }
  }
  return std::string();
}

std::string DeclaredTypeAsWritten(sqlite3* db, const char* database,
                                  const char* table, const char* column) {
  const std::string master = std::string("SELECT sql FROM \"") +
                             (database ? database : "main") +
                             "\".sqlite_master WHERE type = 'table' AND "
                             "name = ?1 COLLATE NOCASE";
  Statement stmt = Prepare(db, master.c_str());
  if (stmt == nullptr) return std::string();
  sqlite3_bind_text(stmt.get(), 1, table, -1, SQLITE_STATIC);
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) return std::string();
  const unsigned char* sql = sqlite3_column_text(stmt.get(), 0);
  if (sql == nullptr) return std::string();
  return TypeInCreateTable(reinterpret_cast<const char*>(sql), column);
}

}  // namespace venuedb
