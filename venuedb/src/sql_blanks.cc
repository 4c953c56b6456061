#include "sql_blanks.h"

#include <cctype>

namespace venuedb {

namespace {

// Whether s holds `two` (two characters) at i; false past the end.
bool HasPairAt(const std::string& s, size_t i, const char* two) {
  return i + 1 < s.size() && s[i] == two[0] && s[i + 1] == two[1];
}

}  // namespace

size_t SkipBlanks(const std::string& sql, size_t i, bool semicolons) {
  for (;;) {
    while (i < sql.size() &&
           (std::isspace(static_cast<unsigned char>(sql[i])) ||
            (semicolons && sql[i] == ';'))) {
      ++i;
    }
    if (HasPairAt(sql, i, "--")) {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (HasPairAt(sql, i, "/*")) {
      const size_t close = sql.find("*/", i + 2);
      i = close == std::string::npos ? sql.size() : close + 2;
    } else {
      return i < sql.size() ? i : sql.size();
    }
  }
}

}  // namespace venuedb
