#include "sql_words.h"

#include <cctype>

namespace venuedb {

namespace {

// Whether s holds `two` (two characters) at i; false past the end.
bool HasPairAt(std::string_view s, size_t i, const char* two) {
  return i + 1 < s.size() && s[i] == two[0] && s[i + 1] == two[1];
}

}  // namespace

size_t SkipBlanks(std::string_view sql, size_t i, bool semicolons) {
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
      i = close == std::string_view::npos ? sql.size() : close + 2;
    } else {
      return i < sql.size() ? i : sql.size();
    }
  }
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' ||
         c == '#' || c == '$' || (c & 0x80);
}

size_t WordEnd(std::string_view sql, size_t i) {
  while (i < sql.size() && IsWordChar(sql[i])) ++i;
  return i;
}

std::string Lower(std::string_view s) {
  std::string lower(s);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string LowerWordAt(std::string_view sql, size_t i, size_t* end) {
  const size_t word_end = i < sql.size() ? WordEnd(sql, i) : i;
  if (end) *end = word_end;
  return Lower(sql.substr(i < sql.size() ? i : sql.size(), word_end - i));
}

size_t SkipQuotedOrComment(std::string_view sql, size_t i) {
  if (i >= sql.size()) return i;
  const char c = sql[i];
  if (c == '\'' || c == '"' || c == '[') {
    // A doubled closing quote stands for itself inside the text.
    const char close = c == '[' ? ']' : c;
    for (size_t at = i + 1; at < sql.size(); ++at) {
      if (sql[at] != close) continue;
      if (at + 1 < sql.size() && sql[at + 1] == close) {
        ++at;
        continue;
      }
      return at + 1;
    }
    return sql.size();
  }
  if (HasPairAt(sql, i, "--")) {
    const size_t end = sql.find('\n', i + 2);
    return end == std::string_view::npos ? sql.size() : end;
  }
  if (HasPairAt(sql, i, "/*")) {
    const size_t close = sql.find("*/", i + 2);
    return close == std::string_view::npos ? sql.size() : close + 2;
  }
  return i;
}

std::string WithoutComments(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  while (i < sql.size()) {
    const size_t end = SkipQuotedOrComment(sql, i);
    if (end == i) {
      out.push_back(sql[i++]);
      continue;
    }
    const std::string_view skipped = sql.substr(i, end - i);
    i = end;
    if (skipped[0] != '-' && skipped[0] != '/') {
      out.append(skipped);  // quoted text stays as it is
      continue;
    }
    const size_t before = out.size();
    for (char c : skipped) {
      if (c == '\n') out.push_back('\n');
    }
    if (out.size() == before) out.push_back(' ');
  }
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool StartsStatement(std::string_view word) {
  static const char* const kWords[] = {
      "alter", "begin",   "commit", "create", "delete",  "drop",
      "exec",  "execute", "if",     "insert", "replace", "rollback",
      "save",  "select",  "set",    "update", "use",     "with"};
  for (const char* w : kWords) {
    if (word == w) return true;
  }
  return false;
}

std::string SqlWords::Peek(std::string* original) {
  // Comments separate words as blanks do; ';' ends the statement.
  const size_t at = SkipBlanks(sql_, pos_, /*semicolons=*/false);
  size_t end = WordEnd(sql_, at);
  if (end == at && at < sql_.size() && sql_[at] != ';') end = at + 1;
  const std::string_view word = sql_.substr(at, end - at);
  if (original) *original = std::string(word);
  next_ = end;
  return Lower(word);
}

std::string SqlWords::Take(std::string* original) {
  std::string word = Peek(original);
  pos_ = next_;
  return word;
}

bool SqlWords::TakeIf(const char* expected) {
  if (Peek() != expected) return false;
  pos_ = next_;
  return true;
}

bool SqlWords::TakeIfAny(std::initializer_list<const char*> expected) {
  const std::string word = Peek();
  for (const char* e : expected) {
    if (word == e) {
      pos_ = next_;
      return true;
    }
  }
  return false;
}

std::string SqlWords::TakeName() {
  std::string original;
  const std::string word = Peek(&original);
  if (word.empty() || !IsWordChar(word[0]) || StartsStatement(word))
    return std::string();
  pos_ = next_;
  return original;
}

}  // namespace venuedb
