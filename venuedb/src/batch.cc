#include "batch.h"

#include <cctype>
#include <cstdlib>

#include "faults.h"
#include "globals.h"
#include "procedure_runner.h"
#include "procedure_text.h"
#include "range_checks.h"
#include "sql_types.h"
#include "sql_words.h"
#include "store.h"
#include "temp_tables.h"

namespace venuedb {

namespace {

constexpr int32_t kSyntaxError = 102;
constexpr int32_t kKeywordSyntaxError = 156;
constexpr int32_t kUnclosedQuote = 105;
constexpr int32_t kNotWithFmtOnly = 50000;

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

// Reads one argument value at s[*i]: 'text', N'text', or a token up to a
// blank, ',' or ';' (an integer, NULL, DEFAULT, or a bare word taken as
// text, as SQL Server takes an unquoted name).
bool ReadExecValue(const std::string& s, size_t* i, RpcParam* p,
                   SyntaxError* error) {
  size_t at = *i;
  if (at < s.size() &&
      (s[at] == '\'' || ((s[at] == 'N' || s[at] == 'n') && at + 1 < s.size() &&
                         s[at + 1] == '\''))) {
    if (s[at] != '\'') ++at;
    std::string text;
    if (!ReadQuoted(s, s.size(), &at, '\'', &text, error)) return false;
    p->value = Value::Text(text);
    p->kind = "varchar";
    *i = at;
    return true;
  }
  const size_t start = at;
  while (at < s.size() && s[at] != ',' && s[at] != ';' &&
         !std::isspace(static_cast<unsigned char>(s[at]))) {
    ++at;
  }
  std::string literal = s.substr(start, at - start);
  if (literal.empty()) {
    *error = {kSyntaxError,
              "Incorrect syntax near '" + s.substr(start, 1) + "'."};
    return false;
  }
  char* tail = nullptr;
  long long number = std::strtoll(literal.c_str(), &tail, 10);
  if (SameName(literal, "null")) {
    p->value = Value::Null();
  } else if (SameName(literal, "default")) {
    p->use_default = true;
  } else if (tail && *tail == '\0') {
    p->value = Value::Int(number);
    p->kind = "int";
  } else {
    p->value = Value::Text(literal);
    p->kind = "varchar";
  }
  *i = at;
  return true;
}

// Reads the arguments of an EXEC from s[begin]: "[@name =] value [OUTPUT]",
// separated by commas. As in SQL Server, they end where a value is not
// followed by a comma: *end is just after the last one (or begin when there
// are none, or the next statement's keyword comes first).
bool ParseExecArgs(const std::string& s, size_t begin, size_t* end,
                   std::vector<RpcParam>* out, SyntaxError* error) {
  *end = begin;
  size_t i = SkipBlanks(s, begin, false);
  if (i >= s.size() || s[i] == ';' || StartsStatement(LowerWordAt(s, i))) {
    return true;
  }
  for (;;) {
    RpcParam p;
    if (s[i] == '@') {
      const size_t start = i;
      i = WordEnd(s, i);
      p.name = s.substr(start, i - start);
      i = SkipBlanks(s, i, false);
      if (i >= s.size() || s[i] != '=') {
        *error = {kSyntaxError, "Incorrect syntax near '" + p.name + "'."};
        return false;
      }
      i = SkipBlanks(s, i + 1, false);
    }
    if (!ReadExecValue(s, &i, &p, error)) return false;
    out->push_back(p);
    *end = i;
    size_t next = SkipBlanks(s, i, false);
    // An OUTPUT keyword has no variable to fill here.
    const std::string word = LowerWordAt(s, next);
    if (word == "output" || word == "out") {
      next += word.size();
      *end = next;
      next = SkipBlanks(s, next, false);
    }
    if (next >= s.size() || s[next] != ',') return true;
    i = SkipBlanks(s, next + 1, false);
    if (i >= s.size() || s[i] == ';') {
      *error = {kSyntaxError, "Incorrect syntax near ','."};
      return false;
    }
  }
}

// SET option[, option...] {ON | OFF}, SET option value, or SET TRANSACTION
// ISOLATION LEVEL level, read from just after "set". Sets st->end just after
// it and st->options / st->value (lower case).
bool ReadSet(const std::string& s, size_t word_end, BatchStatement* st,
             SyntaxError* error) {
  size_t i = SkipBlanks(s, word_end, false);
  if (i < s.size() && s[i] == '@') {
    size_t end = i + 1;
    LowerWordAt(s, end, &end);
    *error = {137, "Must declare the scalar variable \"" +
                       s.substr(i, end - i) + "\"."};
    return false;
  }
  auto near = [&](size_t at) {
    size_t end = at;
    std::string word = LowerWordAt(s, at, &end);
    return SyntaxError{kSyntaxError,
                       "Incorrect syntax near '" +
                           (word.empty() ? s.substr(at, 1) : word) + "'."};
  };
  auto take = [&](std::string* word) {
    i = SkipBlanks(s, i, false);
    size_t end = i;
    *word = LowerWordAt(s, i, &end);
    i = end;
    return !word->empty();
  };
  std::string word;
  if (!take(&word)) {
    *error = near(i);
    return false;
  }
  if (word == "transaction") {
    st->options = {word};
    static const char* const kLevels[][2] = {{"read", "uncommitted"},
                                             {"read", "committed"},
                                             {"repeatable", "read"},
                                             {"snapshot", nullptr},
                                             {"serializable", nullptr}};
    std::string isolation, level, first;
    if (!take(&isolation) || isolation != "isolation" || !take(&level) ||
        level != "level" || !take(&first)) {
      *error = near(i);
      return false;
    }
    // The second word of a level is read once, then matched against each.
    const size_t after_first = i;
    std::string second;
    take(&second);
    const size_t after_second = i;
    for (const auto& known : kLevels) {
      if (first != known[0] || (known[1] && second != known[1])) continue;
      st->value = known[1] ? first + " " + second : first;
      st->end = known[1] ? after_second : after_first;
      return true;
    }
    *error = near(i);
    return false;
  }
  st->options.push_back(word);
  for (;;) {
    size_t next = SkipBlanks(s, i, false);
    if (next >= s.size() || s[next] != ',') break;
    i = next + 1;
    if (!take(&word)) {
      *error = near(i);
      return false;
    }
    st->options.push_back(word);
  }
  i = SkipBlanks(s, i, false);
  if (i < s.size() && s[i] == '\'') {
    std::string text;
    if (!ReadQuoted(s, s.size(), &i, '\'', &text, error)) return false;
    st->value = text;
  } else {
    const size_t start = i;
    if (i < s.size() && s[i] == '-') ++i;
    i = WordEnd(s, i);
    if (i == start) {
      *error = near(i);
      return false;
    }
    st->value = Lower(s.substr(start, i - start));
  }
  const bool switch_value = st->value == "on" || st->value == "off";
  if (st->options.size() > 1 && !switch_value) {
    *error = near(i);
    return false;
  }
  for (const std::string& option : st->options) {
    if ((option == "fmtonly" || option == "nocount") && !switch_value) {
      *error = {kSyntaxError, "Incorrect syntax near '" + st->value + "'."};
      return false;
    }
  }
  st->end = i;
  return true;
}

// What follows `prefix` in message, up to its end.
bool After(const std::string& message, const char* prefix, std::string* rest) {
  const size_t at = message.find(prefix);
  if (at == std::string::npos) return false;
  *rest = message.substr(at + std::char_traits<char>::length(prefix));
  return true;
}

bool IsKeyword(const std::string& word) {
  static const char* const kKeywords[] = {
      "add",      "all",    "and",     "as",     "asc",     "between", "by",
      "case",     "check",  "column",  "create", "default", "delete",  "desc",
      "distinct", "drop",   "else",    "end",    "exec",    "execute", "exists",
      "from",     "group",  "having",  "if",     "in",      "insert",  "into",
      "is",       "join",   "key",     "like",   "not",     "null",    "on",
      "or",       "order",  "primary", "select", "set",     "table",   "then",
      "union",    "update", "values",  "when",   "where",   "with"};
  const std::string lower = Lower(word);
  for (const char* k : kKeywords) {
    if (lower == k) return true;
  }
  return false;
}

}  // namespace

ServerError SqliteError(const std::string& message) {
  SqlError overflow;
  if (RangeCheckError(message, &overflow)) {
    return {overflow.number, 16, overflow.message};
  }
  std::string rest;
  if (After(message, "no such table: ", &rest)) {
    return {208, 16, "Invalid object name '" + rest + "'."};
  }
  if (After(message, "no such column: ", &rest)) {
    return {207, 16, "Invalid column name '" + rest + "'."};
  }
  if (After(message, "no such function: ", &rest)) {
    return {195, 15,
            "'" + rest + "' is not a recognized built-in function name."};
  }
  if (After(message, "near \"", &rest)) {
    // SQLite: near "word": syntax error
    const size_t close = rest.rfind("\": syntax error");
    if (close != std::string::npos) {
      const std::string word = rest.substr(0, close);
      if (IsKeyword(word)) {
        return {kKeywordSyntaxError, 15,
                "Incorrect syntax near the keyword '" + word + "'."};
      }
      return {kSyntaxError, 15, "Incorrect syntax near '" + word + "'."};
    }
  }
  if (After(message, "unrecognized token: \"", &rest) && !rest.empty()) {
    rest = rest.substr(0, rest.size() - 1);  // SQLite's closing quote
    if (rest[0] == '\'') {
      return {kUnclosedQuote, 15,
              "Unclosed quotation mark after the character string '" +
                  rest.substr(1) + "'."};
    }
    return {kSyntaxError, 15, "Incorrect syntax near '" + rest + "'."};
  }
  if (message.find("incomplete input") != std::string::npos ||
      message.find("syntax error") != std::string::npos) {
    return {kSyntaxError, 15, "Incorrect syntax near the end of the batch."};
  }
  if (message.find("UNIQUE constraint") != std::string::npos ||
      message.find("PRIMARY KEY constraint") != std::string::npos) {
    return {2627, 14, message};
  }
  if (message.find("NOT NULL constraint") != std::string::npos) {
    return {515, 16, message};
  }
  if (message.find("Must declare the scalar variable") != std::string::npos) {
    return {137, 15, message};
  }
  return {50000, 16, message};
}

uint8_t SeverityOf(int32_t number) {
  switch (number) {
    case 102:  // incorrect syntax
    case 105:  // unclosed quotation mark
    case 137:  // undeclared variable
    case 156:  // incorrect syntax near a keyword
    case 195:  // unknown function
      return 15;
    case 2627:  // duplicate key
      return 14;
    default:
      return 16;
  }
}

namespace {

uint16_t More(bool last) { return last ? 0 : kDoneMore; }

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
  charset->SqlFromUtf16(payload.substr(start), &sql);
  return sql;
}

size_t SkipBatchBlanks(const std::string& sql, size_t pos) {
  return SkipBlanks(sql, pos);
}

bool ReadBatchStatement(const std::string& sql, size_t pos,
                        BatchStatement* statement) {
  BatchStatement& st = *statement;
  size_t word_end = pos;
  st.word = LowerWordAt(sql, pos, &word_end);
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
    if (!ReadSet(sql, word_end, &st, &syntax)) return refuse();
    return true;
  }
  if (st.word == "exec" || st.word == "execute") {
    st.kind = BatchStatement::kExec;
    size_t i = SkipBlanks(sql, word_end, false);
    if (!ReadName(sql, &i, &st.name, &syntax)) return refuse();
    if (!ParseExecArgs(sql, i, &st.end, &st.params, &syntax)) return refuse();
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
  const bool expanded = NeedsExpansion(sql, pos);
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
    if (at > 0 && StartsStatement(LowerWordAt(
                      std::string_view(text, static_cast<size_t>(size)),
                      static_cast<size_t>(at)))) {
      rc = sqlite3_prepare_v2(db, text, at, stmt, &tail);
      const int32_t number = SqliteError(sqlite3_errmsg(db)).number;
      if (rc != SQLITE_OK &&
          (number == kSyntaxError || number == kKeywordSyntaxError)) {
        // Not a statement of its own either: the first error is the one to
        // report. Any other error (a missing table) is this statement's.
        rc = sqlite3_prepare_v2(db, text, size, stmt, &tail);
      }
    }
  }
  *next = tail != nullptr
              ? pos + rest.Original(static_cast<size_t>(tail - text))
              : sql.size();
  return rc;
}

int BatchWalk::Walk(size_t from) {
  pos_ = from;
  int statements = 0;
  while (!AtEnd()) {
    ++statements;
    if (!NextStatement()) break;
  }
  return statements;
}

bool BatchWalk::NextStatement() {
  start_ = pos_;
  size_t own_end = 0;
  int32_t own_error = 0;
  std::string own_message;
  if (host_->OwnStatement(sql_, pos_, &own_end, &own_error, &own_message)) {
    pos_ = SkipBlanks(sql_, own_end);
    return HostStatement(own_error, own_message);
  }
  BatchStatement st;
  if (!ReadBatchStatement(sql_, pos_, &st)) return Unreadable(st);
  if (st.kind == BatchStatement::kSql) return Sql(st.word);
  pos_ = SkipBlanks(sql_, st.end);
  switch (st.kind) {
    case BatchStatement::kUse:
      return Use(st);
    case BatchStatement::kSet:
      return Set(st);
    default:
      return Exec(&st);
  }
}

bool BatchWalk::Sql(const std::string& word) {
  sqlite3_stmt* raw = nullptr;
  size_t next = sql_.size();
  const int rc = PrepareBatchStatement(db_, sql_, pos_, &raw, &next);
  Statement stmt(raw);
  if (rc != SQLITE_OK) return PrepareFailed();
  // Nothing consumed: going round again would never end.
  if (next <= pos_ || next > sql_.size()) return NothingConsumed();
  pos_ = SkipBlanks(sql_, next);
  return Prepared(std::move(stmt), word);
}

namespace {

// Runs one batch: its statements in order, each answered with its rows and a
// DONE, until the end or the first failure. The batch as a whole is checked
// first (a NUL, nothing at all); then each step of the walk answers its
// statement: one the host ran itself, USE, SET, EXEC, or SQL for SQLite (with
// rows, described only under FMTONLY, or without rows).
class BatchRunner : public BatchWalk {
 public:
  BatchRunner(sqlite3* db, Reply* reply, BatchHost* host,
              const std::string& sql)
      : BatchWalk(db, host, sql), reply_(reply), settings_(host->settings()) {}

  BatchOutcome Run() {
    // SQLite reads a NUL as the end of the text: the rest would be lost, or
    // never consumed.
    const size_t nul = sql().find('\0');
    if (nul != std::string::npos) {
      Fail(kSyntaxError,
           "Incorrect syntax: the batch holds a NUL character at offset " +
               std::to_string(nul) + ".");
      return out_;
    }
    const size_t first = SkipBlanks(sql(), 0);
    if (first >= sql().size()) {
      reply_->Done(kDone, kDoneFinal, 0, 0);
      return out_;
    }
    close_after_ = FindFault(db(), "close_after_rows", "").value_or(-1);
    const int statements = Walk(first);
    out_.only_use = saw_use_ && statements == 1;
    return out_;
  }

 private:
  bool HostStatement(int32_t error_number,
                     const std::string& error_message) override {
    if (error_number != 0) return Fail(error_number, error_message);
    reply_->Done(kDone, More(AtEnd()), 0, 0);
    return true;
  }

  bool Unreadable(const BatchStatement& st) override {
    return Fail(st.error_number, st.error_message);
  }

  bool Use(const BatchStatement& st) override {
    saw_use_ = true;  // journaled by the host from here on
    std::string canonical, previous;
    if (!host()->UseDatabase(st.name, &canonical, &previous)) {
      return Fail(911, "Database '" + st.name +
                           "' does not exist. Make sure that the name is "
                           "entered correctly.");
    }
    ByteWriter w;
    PutEnvChangeText(&w, 1, reply_->charset()->GbToUtf16(canonical),
                     reply_->charset()->GbToUtf16(previous));
    reply_->Write(&w);
    reply_->Done(kDone, More(AtEnd()), 0, 0);
    return true;
  }

  bool Set(const BatchStatement& st) override {
    for (const std::string& option : st.options) {
      if (option == "fmtonly") settings_->fmtonly = st.value == "on";
      if (option == "nocount") settings_->nocount = st.value == "on";
    }
    reply_->Done(kDone, More(AtEnd()), 0, 0);
    return true;
  }

  bool Exec(BatchStatement* st) override {
    if (settings_->fmtonly) {
      return Fail(kNotWithFmtOnly,
                  "venuedb does not run procedures while FMTONLY is ON: set "
                  "FMTONLY OFF first.");
    }
    ProcedureCall call;
    call.name = st->name;
    call.params = std::move(st->params);
    call.more_follows = !AtEnd();
    call.close_after_rows =
        FindFault(db(), "close_after_rows", call.name).value_or(-1);
    const ProcedureOutcome p = RunProcedure(db(), reply_, call);
    out_.attention = p.attention;
    out_.fault_close = p.fault_close;
    if (p.attention || p.fault_close) return false;
    // A failed procedure ends its own part (its last DONE says whether more
    // follows); the batch goes on with the next statement.
    if (!p.ok) out_.ok = false;
    return true;
  }

  bool PrepareFailed() override { return FailSqlite(sqlite3_errmsg(db())); }

  bool NothingConsumed() override {
    return Fail(kSyntaxError,
                "Incorrect syntax near '" + sql().substr(pos(), 20) + "'.");
  }

  bool Prepared(Statement stmt, const std::string& word) override {
    if (!stmt) {
      if (AtEnd()) reply_->Done(kDone, kDoneFinal, 0, 0);
      return true;
    }
    if (settings_->fmtonly) {
      // Only what the client would receive is described; nothing runs.
      if (sqlite3_column_count(stmt.get()) > 0)
        SendColumnMetadata(reply_, stmt.get());
      reply_->Done(kDone, More(AtEnd()), 0, 0);
      return true;
    }
    if (sqlite3_column_count(stmt.get()) > 0) return Rows(std::move(stmt));
    return WithoutRows(std::move(stmt), word);
  }

  bool Rows(Statement stmt) {
    const StreamOutcome s = StreamResultSet(reply_, stmt.get(), close_after_);
    stmt.reset();
    switch (s.end) {
      case StreamOutcome::kAttention:
        out_.attention = true;
        return false;
      case StreamOutcome::kFaultClose:
        out_.fault_close = true;
        return false;
      case StreamOutcome::kError:
        return FailSqlite(s.error);
      default:
        DoneCounted(s.rows, kSelectCommand);
        return true;
    }
  }

  bool WithoutRows(Statement stmt, const std::string& word) {
    if (!sqlite3_stmt_readonly(stmt.get())) EnsureRangeChecks(db());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    const bool writes = !sqlite3_stmt_readonly(stmt.get());
    stmt.reset();
    if (rc != SQLITE_DONE) return FailSqlite(sqlite3_errmsg(db()));
    // Only INSERT, UPDATE and DELETE have a count: sqlite3_changes64 still
    // holds the last of those after a CREATE or DROP.
    const bool dml = word == "insert" || word == "update" || word == "delete" ||
                     word == "replace" || word == "with";
    if (writes && dml) {
      DoneCounted(static_cast<uint64_t>(sqlite3_changes64(db())),
                  kChangeCommand);
    } else {
      reply_->Done(kDone, More(AtEnd()), 0, 0);
    }
    return true;
  }

  // Ends the batch with an error and a DONE.
  bool Fail(int32_t number, const std::string& message) {
    const bool locked = IsLockTimeout(message);
    reply_->Message(locked ? kLockTimeoutError : number,
                    locked ? 16 : SeverityOf(number),
                    locked ? kLockTimeoutMessage : message);
    reply_->Done(kDone, kDoneError, 0, 0);
    out_.ok = false;
    return false;
  }

  bool FailSqlite(const std::string& sqlite_message) {
    const ServerError e = SqliteError(sqlite_message);
    return Fail(e.number,
                IsLockTimeout(sqlite_message) ? sqlite_message : e.message);
  }

  // DONE after a statement with a row count: the count is left out under
  // NOCOUNT.
  void DoneCounted(uint64_t count, uint16_t command) {
    if (settings_->nocount) {
      reply_->Done(kDone, More(AtEnd()), 0, command);
    } else {
      reply_->Done(kDone, static_cast<uint16_t>(kDoneCount | More(AtEnd())),
                   count, command);
    }
  }

  // The command codes a DONE carries: a SELECT's rows, an INSERT, UPDATE or
  // DELETE's changes.
  static constexpr uint16_t kSelectCommand = 0xC1;
  static constexpr uint16_t kChangeCommand = 0xC3;

  Reply* reply_;
  BatchSettings* settings_;
  int64_t close_after_ = -1;
  bool saw_use_ = false;
  BatchOutcome out_;
};

}  // namespace

BatchOutcome RunBatch(sqlite3* db, Reply* reply, BatchHost* host,
                      const std::string& sql) {
  // A batch holding a NUL is refused with its offset as sent.
  std::string text =
      sql.find('\0') == std::string::npos ? RewriteTempTables(sql) : sql;
  WriteMaxLengths(&text);
  return BatchRunner(db, reply, host, text).Run();
}

}  // namespace venuedb
