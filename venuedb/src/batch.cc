#include "batch.h"

#include <cctype>
#include <cstdlib>

#include "faults.h"
#include "globals.h"
#include "procedure_runner.h"
#include "procedure_text.h"
#include "store.h"

namespace venuedb {

namespace {

constexpr int32_t kSyntaxError = 102;
constexpr int32_t kUnclosedQuote = 105;

// Whether s holds `two` (two characters) at i; false past the end.
bool HasPairAt(const std::string& s, size_t i, const char* two) {
  return i + 1 < s.size() && s[i] == two[0] && s[i + 1] == two[1];
}

size_t SkipBlanks(const std::string& s, size_t i, bool skip_semicolons = true) {
  for (;;) {
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) ||
                            (skip_semicolons && s[i] == ';'))) {
      ++i;
    }
    if (HasPairAt(s, i, "--")) {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (HasPairAt(s, i, "/*")) {
      size_t close = s.find("*/", i + 2);
      i = close == std::string::npos ? s.size() : close + 2;
    } else {
      return i < s.size() ? i : s.size();
    }
  }
}

std::string WordAt(const std::string& s, size_t i, size_t* end) {
  std::string word;
  while (i < s.size() &&
         (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) {
    word.push_back(
        static_cast<char>(std::tolower(static_cast<unsigned char>(s[i]))));
    ++i;
  }
  *end = i;
  return word;
}

// The end of a one-line statement: the next ';' or end of line outside quotes.
size_t LineEnd(const std::string& s, size_t i) {
  bool quoted = false;
  for (; i < s.size(); ++i) {
    if (s[i] == '\'') quoted = !quoted;
    if (!quoted && (s[i] == ';' || s[i] == '\n')) break;
  }
  return i;
}

// What a reader refuses: the error number and message for the client.
struct SyntaxError {
  int32_t number = 0;
  std::string message;
};

SyntaxError Unclosed(const std::string& text) {
  return {kUnclosedQuote,
          "Unclosed quotation mark after the character string '" + text + "'."};
}

// Reads text quoted by `close` from s[*i + 1] ("]]", "''" or "\"\"" stands
// for the quote itself) and leaves *i after the closing quote.
bool ReadQuoted(const std::string& s, size_t end, size_t* i, char close,
                std::string* text, SyntaxError* error) {
  text->clear();
  for (size_t at = *i + 1; at < end; ++at) {
    if (s[at] != close) {
      text->push_back(s[at]);
      continue;
    }
    if (at + 1 < end && s[at + 1] == close) {
      text->push_back(close);
      ++at;
      continue;
    }
    *i = at + 1;
    return true;
  }
  *error = Unclosed(*text);
  return false;
}

// A name: [bracketed], "quoted" or bare; dotted parts keep the last.
bool ReadName(const std::string& s, size_t* i, std::string* name,
              SyntaxError* error) {
  for (;;) {
    name->clear();
    if (*i < s.size() && (s[*i] == '[' || s[*i] == '"')) {
      if (!ReadQuoted(s, s.size(), i, s[*i] == '[' ? ']' : '"', name, error)) {
        return false;
      }
    } else {
      while (*i < s.size() &&
             !std::isspace(static_cast<unsigned char>(s[*i])) && s[*i] != ';' &&
             s[*i] != '.' && s[*i] != ',') {
        name->push_back(s[(*i)++]);
      }
    }
    if (*i < s.size() && s[*i] == '.') {
      ++*i;
      continue;
    }
    return true;
  }
}

bool ParseExecArgs(const std::string& s, size_t begin, size_t end,
                   std::vector<RpcParam>* out, SyntaxError* error) {
  size_t i = begin;
  while (true) {
    while (i < end && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i >= end) return true;
    RpcParam p;
    if (s[i] == '@') {
      size_t start = i;
      while (i < end && (std::isalnum(static_cast<unsigned char>(s[i])) ||
                         s[i] == '_' || s[i] == '@' || (s[i] & 0x80))) {
        ++i;
      }
      p.name = s.substr(start, i - start);
      while (i < end && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= end || s[i] != '=') {
        *error = {kSyntaxError, "Incorrect syntax near '" + p.name + "'."};
        return false;
      }
      ++i;
      while (i < end && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    if (i < end && (s[i] == '\'' || ((s[i] == 'N' || s[i] == 'n') &&
                                     i + 1 < end && s[i + 1] == '\''))) {
      if (s[i] != '\'') ++i;
      std::string text;
      if (!ReadQuoted(s, end, &i, '\'', &text, error)) return false;
      p.value = Value::Text(text);
      p.kind = "varchar";
    } else {
      size_t start = i;
      while (i < end && s[i] != ',' &&
             !std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
      std::string literal = s.substr(start, i - start);
      char* tail = nullptr;
      long long number = std::strtoll(literal.c_str(), &tail, 10);
      if (SameName(literal, "null")) {
        p.value = Value::Null();
      } else if (!literal.empty() && tail && *tail == '\0') {
        p.value = Value::Int(number);
        p.kind = "int";
      } else {
        p.value = Value::Text(literal);
        p.kind = "varchar";
      }
    }
    while (i < end && s[i] != ',')
      ++i;  // an OUTPUT keyword has no variable to fill here
    out->push_back(p);
    if (i < end) ++i;
  }
}

int32_t ErrorNumber(const std::string& message) {
  if (message.find("no such table") != std::string::npos) return 208;
  if (message.find("no such column") != std::string::npos) return 207;
  if (message.find("syntax error") != std::string::npos) return 102;
  if (message.find("UNIQUE constraint") != std::string::npos) return 2627;
  if (message.find("NOT NULL constraint") != std::string::npos) return 515;
  if (message.find("Must declare the scalar variable") != std::string::npos)
    return 137;
  return 50000;
}

uint16_t More(bool last) { return last ? 0 : kDoneMore; }

// The word at text[at] (of `size` bytes), in lower case (empty when none
// starts there).
std::string LowerWordAt(const char* text, size_t size, size_t at) {
  std::string word;
  while (at < size && std::isalpha(static_cast<unsigned char>(text[at]))) {
    word +=
        static_cast<char>(std::tolower(static_cast<unsigned char>(text[at++])));
  }
  return word;
}

}  // namespace

std::string BatchSqlText(const std::string& payload, bool tds72,
                         Charset* charset) {
  size_t start = 0;
  if (tds72 && payload.size() >= 4) {
    start = static_cast<uint8_t>(payload[0]) |
            (static_cast<uint8_t>(payload[1]) << 8) |
            (static_cast<uint8_t>(payload[2]) << 16) |
            (static_cast<size_t>(static_cast<uint8_t>(payload[3])) << 24);
    if (start > payload.size()) start = payload.size();
  }
  std::string sql;
  charset->Utf16ToGb(payload.substr(start), &sql);
  return sql;
}

size_t SkipBatchBlanks(const std::string& sql, size_t pos) {
  return SkipBlanks(sql, pos);
}

bool ReadBatchStatement(const std::string& sql, size_t pos,
                        BatchStatement* statement) {
  BatchStatement& st = *statement;
  size_t word_end = pos;
  st.word = WordAt(sql, pos, &word_end);
  st.end = pos;
  SyntaxError syntax;
  auto refuse = [&]() {
    st.error_number = syntax.number;
    st.error_message = syntax.message;
    return false;
  };
  if (st.word == "use") {
    st.kind = BatchStatement::kUse;
    size_t i = SkipBlanks(sql, word_end, false);
    if (!ReadName(sql, &i, &st.name, &syntax)) return refuse();
    st.end = i;
    return true;
  }
  if (st.word == "set") {
    st.kind = BatchStatement::kSet;
    st.end = LineEnd(sql, word_end);
    return true;
  }
  if (st.word == "exec" || st.word == "execute") {
    st.kind = BatchStatement::kExec;
    size_t i = SkipBlanks(sql, word_end, false);
    if (!ReadName(sql, &i, &st.name, &syntax)) return refuse();
    size_t end = LineEnd(sql, i);
    if (!ParseExecArgs(sql, i, end, &st.params, &syntax)) return refuse();
    st.end = end;
    return true;
  }
  st.kind = BatchStatement::kSql;
  return true;
}

int PrepareBatchStatement(sqlite3* db, const std::string& sql, size_t pos,
                          sqlite3_stmt** stmt, size_t* next) {
  // A statement naming @@ variables is prepared from a copy with them written
  // as calls; positions are read back in the batch's own text. Any other is
  // prepared where it stands.
  GlobalsExpansion rest;
  const bool expanded = sql.find("@@", pos) != std::string::npos;
  if (expanded) rest = ExpandGlobals(sql.substr(pos));
  const char* text = expanded ? rest.sql.c_str() : sql.c_str() + pos;
  const int size =
      static_cast<int>(expanded ? rest.sql.size() : sql.size() - pos);
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, text, size, stmt, &tail);
  if (rc != SQLITE_OK) {
    // T-SQL needs no ';' between statements: a syntax error at a word that
    // starts a statement ends this one just before it.
    const int at = sqlite3_error_offset(db);
    if (at > 0 && StartsStatement(LowerWordAt(text, static_cast<size_t>(size),
                                              static_cast<size_t>(at)))) {
      rc = sqlite3_prepare_v2(db, text, at, stmt, &tail);
      if (rc != SQLITE_OK) {
        // Not a statement of its own either: the first error is the one to
        // report.
        rc = sqlite3_prepare_v2(db, text, size, stmt, &tail);
      }
    }
  }
  *next = tail != nullptr
              ? pos + rest.Original(static_cast<size_t>(tail - text))
              : sql.size();
  return rc;
}

BatchOutcome RunBatch(sqlite3* db, Reply* reply, BatchHost* host,
                      const std::string& sql) {
  BatchOutcome out;
  auto fail = [&](int32_t number, const std::string& message) {
    bool locked = IsLockTimeout(message);
    reply->Message(locked ? kLockTimeoutError : number, 16,
                   locked ? kLockTimeoutMessage : message);
    reply->Done(kDone, kDoneError, 0, 0);
    out.ok = false;
  };
  // SQLite reads a NUL as the end of the text: the rest would be lost, or
  // never consumed.
  size_t nul = sql.find('\0');
  if (nul != std::string::npos) {
    fail(kSyntaxError,
         "Incorrect syntax: the batch holds a NUL character at "
         "offset " +
             std::to_string(nul) + ".");
    return out;
  }
  size_t pos = SkipBlanks(sql, 0);
  if (pos >= sql.size()) {
    reply->Done(kDone, kDoneFinal, 0, 0);
    return out;
  }
  int64_t close_after = FindFault(db, "close_after_rows", "").value_or(-1);
  int statements = 0;
  bool saw_use = false;
  while (pos < sql.size()) {
    ++statements;
    size_t own_end = 0;
    int32_t own_error = 0;
    std::string own_message;
    if (host->OwnStatement(sql, pos, &own_end, &own_error, &own_message)) {
      pos = SkipBlanks(sql, own_end);
      if (own_error != 0) {
        fail(own_error, own_message);
        break;
      }
      reply->Done(kDone, More(pos >= sql.size()), 0, 0);
      continue;
    }
    BatchStatement st;
    if (!ReadBatchStatement(sql, pos, &st)) {
      fail(st.error_number, st.error_message);
      break;
    }
    const std::string& word = st.word;
    if (st.kind == BatchStatement::kUse) {
      saw_use = true;  // journaled by the host from here on
      pos = SkipBlanks(sql, st.end);
      bool last = pos >= sql.size();
      std::string canonical, previous;
      if (!host->UseDatabase(st.name, &canonical, &previous)) {
        fail(911, "Database '" + st.name +
                      "' does not exist. Make sure that the name is entered "
                      "correctly.");
        break;
      }
      ByteWriter w;
      PutEnvChangeText(&w, 1, reply->charset()->GbToUtf16(canonical),
                       reply->charset()->GbToUtf16(previous));
      reply->Write(&w);
      reply->Done(kDone, More(last), 0, 0);
      continue;
    }
    if (st.kind == BatchStatement::kSet) {
      pos = SkipBlanks(sql, st.end);
      reply->Done(kDone, More(pos >= sql.size()), 0, 0);
      continue;
    }
    if (st.kind == BatchStatement::kExec) {
      ProcedureCall call;
      call.name = st.name;
      call.params = std::move(st.params);
      pos = SkipBlanks(sql, st.end);
      call.more_follows = pos < sql.size();
      call.close_after_rows =
          FindFault(db, "close_after_rows", call.name).value_or(-1);
      ProcedureOutcome p = RunProcedure(db, reply, call);
      out.attention = p.attention;
      out.fault_close = p.fault_close;
      if (p.attention || p.fault_close) break;
      // A failed procedure ends its own part (its last DONE says whether more
      // follows); the batch goes on with the next statement.
      if (!p.ok) out.ok = false;
      continue;
    }
    sqlite3_stmt* raw = nullptr;
    size_t next = sql.size();
    int rc = PrepareBatchStatement(db, sql, pos, &raw, &next);
    Statement stmt(raw);
    if (rc != SQLITE_OK) {
      std::string message = sqlite3_errmsg(db);
      fail(ErrorNumber(message), message);
      break;
    }
    if (next <= pos || next > sql.size()) {
      // Nothing was consumed: going round again would never end.
      fail(kSyntaxError,
           "Incorrect syntax near '" + sql.substr(pos, 20) + "'.");
      break;
    }
    pos = SkipBlanks(sql, next);
    bool last = pos >= sql.size();
    if (!stmt) {
      if (last) reply->Done(kDone, kDoneFinal, 0, 0);
      continue;
    }
    if (sqlite3_column_count(raw) > 0) {
      StreamOutcome s = StreamResultSet(reply, raw, close_after);
      stmt.reset();
      if (s.end == StreamOutcome::kAttention) {
        out.attention = true;
        break;
      }
      if (s.end == StreamOutcome::kFaultClose) {
        out.fault_close = true;
        break;
      }
      if (s.end == StreamOutcome::kError) {
        fail(ErrorNumber(s.error), s.error);
        break;
      }
      reply->Done(kDone, static_cast<uint16_t>(kDoneCount | More(last)),
                  s.rows);
      continue;
    }
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    }
    bool writes = !sqlite3_stmt_readonly(raw);
    stmt.reset();
    if (rc != SQLITE_DONE) {
      std::string message = sqlite3_errmsg(db);
      fail(ErrorNumber(message), message);
      break;
    }
    // Only INSERT, UPDATE and DELETE have a count: sqlite3_changes64 still
    // holds the last of those after a CREATE or DROP.
    bool dml = word == "insert" || word == "update" || word == "delete" ||
               word == "replace" || word == "with";
    if (writes && dml) {
      reply->Done(kDone, static_cast<uint16_t>(kDoneCount | More(last)),
                  static_cast<uint64_t>(sqlite3_changes64(db)), 0xC3);
    } else {
      reply->Done(kDone, More(last), 0, 0);
    }
  }
  out.only_use = saw_use && statements == 1;
  return out;
}

}  // namespace venuedb
