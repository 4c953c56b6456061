#include "temp_tables.h"

#include <vector>

#include "sql_words.h"

namespace venuedb {

namespace {

constexpr size_t kNone = std::string_view::npos;

// A session-local name: one '#' then more ("##name" is a global one).
bool IsTempName(std::string_view word) {
  return word.size() > 1 && word[0] == '#' && word[1] != '#';
}

bool WordStartsAt(std::string_view sql, size_t i) {
  return IsWordChar(sql[i]) && (i == 0 || !IsWordChar(sql[i - 1]));
}

// The word after sql[i] (blanks and comments skipped) as written; *start,
// when given, is set where it starts.
std::string_view NextWord(std::string_view sql, size_t i,
                          size_t* start = nullptr) {
  const size_t at = SkipBlanks(sql, i, false);
  if (start) *start = at;
  return sql.substr(at, WordEnd(sql, at) - at);
}

// The text of the '...' literal at sql[i] ("''" for a quote); *end is set
// just past it. False when none opens there or it is left open.
bool ReadLiteral(std::string_view sql, size_t i, std::string* text,
                 size_t* end) {
  if (i >= sql.size() || sql[i] != '\'') return false;
  const size_t close = SkipQuotedOrComment(sql, i);
  if (close < i + 2 || sql[close - 1] != '\'') return false;
  text->clear();
  for (size_t at = i + 1; at + 1 < close; ++at) {
    text->push_back(sql[at]);
    if (sql[at] == '\'') ++at;
  }
  *end = close;
  return true;
}

std::string_view LastPart(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == kNone ? name : name.substr(dot + 1);
}

// Takes the expected lower-case words in turn from sql[*i].
bool TakeWords(std::string_view sql, size_t* i,
               std::initializer_list<const char*> words) {
  for (const char* w : words) {
    size_t end = *i;
    if (LowerWordAt(sql, SkipBlanks(sql, *i, false), &end) != w) return false;
    *i = end;
  }
  return true;
}

// The names an IF's condition checks, from just after "if": OBJECT_ID('x')
// IS NOT NULL, or EXISTS (a subquery on sysobjects) with its literals. *end
// is set just past the condition.
bool ReadPresenceCheck(std::string_view sql, size_t i,
                       std::vector<std::string>* names, size_t* end) {
  size_t at = SkipBlanks(sql, i, false);
  size_t next = at;
  const std::string word = LowerWordAt(sql, at, &next);
  at = SkipBlanks(sql, next, false);
  if (at >= sql.size() || sql[at] != '(') return false;
  if (word == "object_id") {
    std::string name;
    if (!ReadLiteral(sql, SkipBlanks(sql, at + 1, false), &name, &at))
      return false;
    at = SkipBlanks(sql, at, false);
    if (at >= sql.size() || sql[at] != ')') return false;
    ++at;
    if (!TakeWords(sql, &at, {"is", "not", "null"})) return false;
    names->push_back(name);
    *end = at;
    return true;
  }
  if (word != "exists") return false;
  bool sysobjects = false;
  for (int depth = 0; at < sql.size();) {
    std::string literal;
    if (const size_t q = SkipQuotedOrComment(sql, at); q != at) {
      if (ReadLiteral(sql, at, &literal, &next)) names->push_back(literal);
      at = q;
    } else if (WordStartsAt(sql, at)) {
      sysobjects |= LowerWordAt(sql, at, &next) == "sysobjects";
      at = next;
    } else {
      depth += sql[at] == '(' ? 1 : sql[at] == ')' ? -1 : 0;
      if (++at, depth == 0) {
        *end = at;
        return sysobjects;
      }
    }
  }
  return false;
}

// "IF <presence check> DROP TABLE|PROC|PROCEDURE name" at sql[i] ("if"), when
// the check names the name dropped: *replacement says it SQLite's way and *end
// is set just past the name.
bool ReadDropIfPresent(std::string_view sql, size_t i, std::string* replacement,
                       size_t* end) {
  std::vector<std::string> checked;
  size_t at = i;
  if (!ReadPresenceCheck(sql, i + 2, &checked, &at) ||
      !TakeWords(sql, &at, {"drop"})) {
    return false;
  }
  size_t kind_end = at;
  const std::string kind =
      LowerWordAt(sql, SkipBlanks(sql, at, false), &kind_end);
  const bool table = kind == "table";
  if (!table && kind != "proc" && kind != "procedure") return false;
  size_t name_at = kind_end;
  const std::string_view name = NextWord(sql, kind_end, &name_at);
  const size_t name_end = name_at + name.size();
  if (name.empty() || name.substr(0, 2) == "##" ||
      (name_end < sql.size() && sql[name_end] == '.')) {
    return false;
  }
  bool named = false;
  for (const std::string& c : checked) named |= SameName(LastPart(c), name);
  if (!named) return false;
  const std::string written(name);
  if (table) {
    *replacement = "DROP TABLE IF EXISTS " +
                   (IsTempName(name) ? "\"" + written + "\"" : written);
  } else {
    // A word holds no quote: the name goes in as it stands.
    *replacement = "DELETE FROM vdb_procedures WHERE name = '" + written + "'";
  }
  *end = name_end;
  return true;
}

}  // namespace

std::string RewriteTempTables(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 32);
  // Where the SELECT that a SELECT ... INTO #name would make a table of
  // starts in `out`, and at which depth of parentheses.
  size_t select_at = kNone;
  int depth = 0;
  int select_depth = 0;
  for (size_t i = 0; i < sql.size();) {
    if (const size_t q = SkipQuotedOrComment(sql, i); q != i) {
      out.append(sql.substr(i, q - i));
      i = q;
      continue;
    }
    if (!WordStartsAt(sql, i)) {
      if (sql[i] == '(') ++depth;
      if (sql[i] == ')' && --depth < select_depth) select_at = kNone;
      if (sql[i] == ';') select_at = kNone;
      out.push_back(sql[i++]);
      continue;
    }
    const size_t end = WordEnd(sql, i);
    const std::string_view word = sql.substr(i, end - i);
    const std::string lower = Lower(word);
    size_t next_at = end;
    const std::string_view next = NextWord(sql, end, &next_at);
    std::string replacement;
    size_t idiom_end = end;
    if (IsTempName(word)) {
      out.append("\"").append(word).append("\"");
    } else if (lower == "if" &&
               ReadDropIfPresent(sql, i, &replacement, &idiom_end)) {
      out.append(replacement);
      select_at = kNone;
      i = idiom_end;
      continue;
    } else if (lower == "create" && SameName(next, "table") &&
               IsTempName(NextWord(sql, next_at + next.size()))) {
      out.append(word).append(" TEMP");
    } else if (lower == "into" && select_at != kNone && depth == select_depth &&
               IsTempName(next)) {
      out.insert(select_at,
                 "CREATE TEMP TABLE \"" + std::string(next) + "\" AS ");
      select_at = kNone;
      i = next_at + next.size();
      continue;
    } else {
      if (lower == "select" && (select_at == kNone || depth <= select_depth)) {
        select_at = out.size();
        select_depth = depth;
      } else if (depth == select_depth &&
                 (lower == "from" || StartsStatement(lower))) {
        select_at = kNone;
      }
      out.append(word);
    }
    i = end;
  }
  return out;
}

}  // namespace venuedb
