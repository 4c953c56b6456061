#include "batch.h"

#include <cctype>
#include <cstdlib>

#include "faults.h"
#include "procedure_runner.h"
#include "procedure_text.h"

namespace venuedb {

namespace {

size_t SkipBlanks(const std::string& s, size_t i, bool skip_semicolons = true) {
  for (;;) {
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) ||
                            (skip_semicolons && s[i] == ';'))) {
      ++i;
    }
    if (s.compare(i, 2, "--") == 0) {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (s.compare(i, 2, "/*") == 0) {
      size_t close = s.find("*/", i + 2);
      i = close == std::string::npos ? s.size() : close + 2;
    } else {
      return i;
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

// A name: [bracketed] (with "]]" for "]"), "quoted" or bare; dotted parts keep
// the last.
std::string ReadName(const std::string& s, size_t* i) {
  std::string name;
  for (;;) {
    name.clear();
    if (*i < s.size() && s[*i] == '[') {
      for (++*i; *i < s.size(); ++*i) {
        if (s[*i] == ']') {
          if (*i + 1 < s.size() && s[*i + 1] == ']') {
            name.push_back(']');
            ++*i;
            continue;
          }
          ++*i;
          break;
        }
        name.push_back(s[*i]);
      }
    } else if (*i < s.size() && s[*i] == '"') {
      size_t close = s.find('"', *i + 1);
      if (close == std::string::npos) close = s.size();
      name = s.substr(*i + 1, close - *i - 1);
      *i = close + 1;
    } else {
      while (*i < s.size() &&
             !std::isspace(static_cast<unsigned char>(s[*i])) && s[*i] != ';' &&
             s[*i] != '.' && s[*i] != ',') {
        name.push_back(s[(*i)++]);
      }
    }
    if (*i < s.size() && s[*i] == '.') {
      ++*i;
      continue;
    }
    return name;
  }
}

bool ParseExecArgs(const std::string& s, size_t begin, size_t end,
                   std::vector<RpcParam>* out, std::string* error) {
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
        *error = "Incorrect syntax near '" + p.name + "'.";
        return false;
      }
      ++i;
      while (i < end && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    if (i < end && (s[i] == '\'' || ((s[i] == 'N' || s[i] == 'n') &&
                                     i + 1 < end && s[i + 1] == '\''))) {
      if (s[i] != '\'') ++i;
      std::string text;
      for (++i; i < end; ++i) {
        if (s[i] == '\'') {
          if (i + 1 < end && s[i + 1] == '\'') {
            text.push_back('\'');
            ++i;
            continue;
          }
          ++i;
          break;
        }
        text.push_back(s[i]);
      }
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
  return 50000;
}

uint16_t More(bool last) { return last ? 0 : kDoneMore; }

}  // namespace

BatchOutcome RunBatch(sqlite3* db, Reply* reply, BatchHost* host,
                      const std::string& sql) {
  BatchOutcome out;
  size_t pos = SkipBlanks(sql, 0);
  if (pos >= sql.size()) {
    reply->Done(kDone, kDoneFinal, 0, 0);
    return out;
  }
  int64_t close_after = FindFault(db, "close_after_rows", "").value_or(-1);
  int statements = 0;
  bool saw_use = false;
  auto fail = [&](int32_t number, const std::string& message) {
    reply->Message(number, 16, message);
    reply->Done(kDone, kDoneError, 0, 0);
    out.ok = false;
  };
  while (pos < sql.size()) {
    ++statements;
    size_t word_end = pos;
    std::string word = WordAt(sql, pos, &word_end);
    if (word == "use") {
      saw_use = true;
      size_t i = SkipBlanks(sql, word_end, false);
      std::string name = ReadName(sql, &i);
      pos = SkipBlanks(sql, i);
      bool last = pos >= sql.size();
      std::string canonical, previous;
      if (!host->UseDatabase(name, &canonical, &previous)) {
        fail(911, "Database '" + name +
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
    if (word == "set") {
      pos = SkipBlanks(sql, LineEnd(sql, word_end));
      reply->Done(kDone, More(pos >= sql.size()), 0, 0);
      continue;
    }
    if (word == "exec" || word == "execute") {
      size_t i = SkipBlanks(sql, word_end, false);
      ProcedureCall call;
      call.name = ReadName(sql, &i);
      size_t end = LineEnd(sql, i);
      std::string error;
      if (!ParseExecArgs(sql, i, end, &call.params, &error)) {
        fail(102, error);
        break;
      }
      pos = SkipBlanks(sql, end);
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
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str() + pos,
                           static_cast<int>(sql.size() - pos), &stmt,
                           &tail) != SQLITE_OK) {
      std::string message = sqlite3_errmsg(db);
      fail(ErrorNumber(message), message);
      break;
    }
    pos = tail ? static_cast<size_t>(tail - sql.c_str()) : sql.size();
    pos = SkipBlanks(sql, pos);
    bool last = pos >= sql.size();
    if (!stmt) {
      if (last) reply->Done(kDone, kDoneFinal, 0, 0);
      continue;
    }
    if (sqlite3_column_count(stmt) > 0) {
      StreamOutcome s = StreamResultSet(reply, stmt, close_after);
      sqlite3_finalize(stmt);
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
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    bool writes = !sqlite3_stmt_readonly(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
      std::string message = sqlite3_errmsg(db);
      fail(ErrorNumber(message), message);
      break;
    }
    if (writes) {
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
