#include "procedure_runner.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "charset.h"
#include "faults.h"
#include "procedure_text.h"
#include "range_checks.h"
#include "sql_types.h"
#include "sql_words.h"
#include "store.h"

namespace venuedb {

namespace {

constexpr int32_t kUserError = 50000;
constexpr uint8_t kSeverity = 16;

bool LoadProcedure(sqlite3* db, const std::string& name, std::string* params,
                   std::string* body) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(
          db, "SELECT params, body FROM vdb_procedures WHERE name=?1", -1,
          SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
    return false;
  }
  Statement stmt(raw);
  sqlite3_bind_text(raw, 1, name.data(), static_cast<int>(name.size()),
                    SQLITE_TRANSIENT);
  if (sqlite3_step(raw) != SQLITE_ROW) return false;
  auto text = [raw](int col) {
    const unsigned char* p = sqlite3_column_text(raw, col);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(raw, col)))
             : std::string();
  };
  *params = text(0);
  *body = text(1);
  return true;
}

// The bytes a varchar(N) or char(N) declaration holds; 0 for any other.
size_t DeclaredBytes(const std::string& type_text) {
  std::string type;
  for (char c : type_text) {
    if (c != ' ')
      type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (const char* prefix : {"varchar(", "char("}) {
    const size_t length = std::strlen(prefix);
    if (type.compare(0, length, prefix) == 0) {
      return static_cast<size_t>(
          std::strtoul(type.c_str() + length, nullptr, 10));
    }
  }
  return 0;
}

Value Untyped(const ParamDecl& decl, const Value& v);

// A value as its declaration takes it (see ConvertTo: false when it does not
// fit). A text longer than a varchar(N) is cut to N bytes (on a character
// boundary), as the server cuts a parameter.
bool Typed(const ParamDecl& decl, const Value& v, Value* out) {
  const SqlType type = ParseSqlType(decl.type_text);
  if (type.base != SqlType::kUnknown) return ConvertTo(type, v, out);
  *out = Untyped(decl, v);
  return true;
}

// The old rule for a declaration that names no SQL Server type.
Value Untyped(const ParamDecl& decl, const Value& v) {
  if (v.is_null()) return v;
  if (decl.is_int) return v.kind == Value::kInt ? v : Value::Int(v.AsInt());
  Value text = v.kind == Value::kText ? v : Value::Text(v.AsText());
  const size_t limit = DeclaredBytes(decl.type_text);
  if (limit > 0 && text.text.size() > limit) {
    text.text.resize(
        Gb18030PrefixLength(text.text.data(), text.text.size(), limit));
  }
  return text;
}

Value ColumnValue(sqlite3_stmt* stmt, int col, bool as_int) {
  switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_NULL:
      return Value::Null();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      if (as_int) return Value::Int(sqlite3_column_int64(stmt, col));
      break;
    default:
      if (as_int)
        return Value::Int(Value::Text(reinterpret_cast<const char*>(
                                          sqlite3_column_text(stmt, col)))
                              .AsInt());
      break;
  }
  const unsigned char* p = sqlite3_column_text(stmt, col);
  return Value::Text(
      std::string(reinterpret_cast<const char*>(p),
                  static_cast<size_t>(sqlite3_column_bytes(stmt, col))));
}

int FindDecl(const std::vector<ParamDecl>& decls, const std::string& name) {
  for (size_t i = 0; i < decls.size(); ++i) {
    if (SameName(decls[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

// Clients send parameter names with or without the "@".
std::string WithAt(const std::string& name) {
  return !name.empty() && name[0] == '@' ? name : "@" + name;
}

// What a call runs: a stored procedure's declarations and body, or the
// statement and declarations that sp_executesql carries.
struct Definition {
  std::vector<ParamDecl> decls;
  std::string body;
  size_t first_value = 0;  // call parameters before it are not values
  // A statement whose columns all start with "@" assigns to the parameters
  // (procedures); otherwise such a column is just a result (sp_executesql's
  // "select @p1 + 1").
  bool assignments = true;
};

// A call refused before anything ran: ERROR, then DONE with the error bit.
void Refuse(Reply* reply, const ProcedureCall& call, int32_t number,
            const std::string& message, const std::string& procedure,
            uint8_t state = 1) {
  reply->Message(number, kSeverity, message, procedure, state);
  reply->Done(kDone, static_cast<uint16_t>(
                         kDoneError | (call.more_follows ? kDoneMore : 0)));
}

// sp_executesql's first parameter is the statement (@stmt), the second the
// declarations (@params); either may come unnamed.
bool DefineStatement(Reply* reply, const ProcedureCall& call, Definition* def) {
  auto is = [&call](size_t i, const char* name) {
    return i < call.params.size() &&
           (call.params[i].name.empty() ||
            SameName(WithAt(call.params[i].name), name));
  };
  const RpcParam* stmt = nullptr;
  if (is(0, "@stmt") || is(0, "@statement")) stmt = &call.params[0];
  if (!stmt || stmt->kind != "varchar" || stmt->value.is_null()) {
    Refuse(reply, call, 214,
           "Procedure expects parameter '@statement' of type "
           "'ntext/nchar/nvarchar'.",
           call.name);
    return false;
  }
  def->body = stmt->value.text;
  def->first_value = 1;
  def->assignments = false;
  if (!is(1, "@params")) return true;
  def->first_value = 2;
  const RpcParam& params = call.params[1];
  if (params.value.is_null()) return true;
  std::string error;
  if (params.kind != "varchar" ||
      !ParseParamDecls(params.value.AsText(), &def->decls, &error)) {
    Refuse(reply, call, 102,
           "Incorrect syntax in the parameter declarations of "
           "sp_executesql: " +
               error,
           call.name);
    return false;
  }
  return true;
}

bool DefineProcedure(sqlite3* db, Reply* reply, const ProcedureCall& call,
                     Definition* def) {
  std::string params_text;
  if (!LoadProcedure(db, call.name, &params_text, &def->body)) {
    Refuse(reply, call, 2812,
           "Could not find stored procedure '" + call.name + "'.", "", 62);
    return false;
  }
  std::string error;
  if (!ParseParamDecls(params_text, &def->decls, &error)) {
    Refuse(reply, call, kUserError, "Procedure " + call.name + ": " + error,
           call.name);
    return false;
  }
  return true;
}

// Matches the call's values to the declarations: by name (any case, "@"
// optional) or by position. targets[i] is the declaration of call parameter i
// (-1 for those before def.first_value).
bool MatchParams(Reply* reply, const ProcedureCall& call, const Definition& def,
                 std::vector<Value>* values, std::vector<int>* targets) {
  values->clear();
  for (const ParamDecl& d : def.decls) values->push_back(d.default_value);
  targets->assign(call.params.size(), -1);
  for (size_t i = def.first_value; i < call.params.size(); ++i) {
    const RpcParam& p = call.params[i];
    size_t position = i - def.first_value;
    int d =
        p.name.empty()
            ? (position < def.decls.size() ? static_cast<int>(position) : -1)
            : FindDecl(def.decls, WithAt(p.name));
    if (d < 0) {
      std::string what = p.name.empty() ? "too many arguments"
                                        : "no parameter named " + p.name;
      Refuse(reply, call, p.name.empty() ? 8144 : 8145,
             "Procedure or function " + call.name + " has " + what + ".",
             call.name);
      return false;
    }
    (*targets)[i] = d;
    if (!p.use_default) (*values)[static_cast<size_t>(d)] = p.value;
  }
  for (size_t i = 0; i < def.decls.size(); ++i) {
    Value typed;
    if (Typed(def.decls[i], (*values)[i], &typed)) {
      (*values)[i] = std::move(typed);
      continue;
    }
    // The parameter sent for it names the type it came as.
    std::string from = (*values)[i].kind == Value::kText ? "varchar" : "int";
    for (size_t p = 0; p < targets->size(); ++p) {
      if ((*targets)[p] == static_cast<int>(i))
        from = SentTypeName(call.params[p]);
    }
    const SqlError e =
        ParamOverflow(ParseSqlType(def.decls[i].type_text), from);
    Refuse(reply, call, e.number, e.message, call.name);
    return false;
  }
  return true;
}

// How an output parameter travels back: as it was sent, unless its
// declaration names one of the types a client's own type cannot stand for
// (bit, real, numeric, money, datetime, the N kinds, ...): then as declared.
ColumnInfo ReturnType(const RpcParam& p, const ParamDecl& decl) {
  const SqlType type = ParseSqlType(decl.type_text);
  switch (type.base) {
    case SqlType::kUnknown:
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
    case SqlType::kInt:
    case SqlType::kBigInt:
    case SqlType::kFloat:
    case SqlType::kChar:
    case SqlType::kVarchar:
    case SqlType::kStoredText:
    case SqlType::kNText:
      return p.return_type;
    case SqlType::kNVarchar:
      if (type.max) return p.return_type;
      break;
    default:
      break;
  }
  return ColumnFor(type, true, 0x74000004);
}

// The procedure's run once its parameters are known.
class Run {
 public:
  Run(sqlite3* db, Reply* reply, const ProcedureCall& call,
      std::vector<ParamDecl> decls, std::vector<Value> values,
      std::vector<int> targets, bool assignments)
      : db_(db),
        reply_(reply),
        call_(call),
        decls_(std::move(decls)),
        values_(std::move(values)),
        targets_(std::move(targets)),
        assignments_(assignments) {}

  ProcedureOutcome Body(const std::string& body);

 private:
  // ERROR, DONEINPROC (more, error), RETURNSTATUS -6, DONEPROC (error).
  void Fail(int32_t number, const std::string& message, int32_t status = -6);
  bool Bind(sqlite3_stmt* stmt, std::string* error);
  bool IsAssignment(sqlite3_stmt* stmt);
  bool Assign(sqlite3_stmt* stmt, std::string* error, bool* raised);
  void Finish();

  sqlite3* db_;
  Reply* reply_;
  const ProcedureCall& call_;
  std::vector<ParamDecl> decls_;
  std::vector<Value> values_;
  std::vector<int> targets_;  // the declaration of each call parameter, or -1
  bool assignments_;
  int32_t return_status_ = 0;
};

void Run::Fail(int32_t number, const std::string& message, int32_t status) {
  SqlError overflow;
  if (RangeCheckError(message, &overflow)) number = overflow.number;
  bool locked = IsLockTimeout(message);
  reply_->Message(locked ? kLockTimeoutError : number, kSeverity,
                  locked ? kLockTimeoutMessage : message, call_.name);
  reply_->Done(kDoneInProc, kDoneMore | kDoneError);
  ByteWriter w;
  PutReturnStatus(&w, status);
  reply_->Write(&w);
  reply_->Done(
      kDoneProc,
      static_cast<uint16_t>(kDoneError | (call_.more_follows ? kDoneMore : 0)));
}

bool Run::Bind(sqlite3_stmt* stmt, std::string* error) {
  int count = sqlite3_bind_parameter_count(stmt);
  for (int i = 1; i <= count; ++i) {
    const char* raw = sqlite3_bind_parameter_name(stmt, i);
    std::string name = raw ? raw : "?";
    if (!name.empty() && (name[0] == ':' || name[0] == '$')) name[0] = '@';
    int d = FindDecl(decls_, name);
    if (d < 0) {
      *error = "Must declare the scalar variable \"" + name + "\".";
      return false;
    }
    const Value& v = values_[static_cast<size_t>(d)];
    switch (v.kind) {
      case Value::kNull:
        sqlite3_bind_null(stmt, i);
        break;
      case Value::kInt:
        sqlite3_bind_int64(stmt, i, v.integer);
        break;
      case Value::kReal:
        sqlite3_bind_double(stmt, i, v.real);
        break;
      case Value::kText:
        sqlite3_bind_text(stmt, i, v.text.data(),
                          static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        break;
    }
  }
  return true;
}

bool Run::IsAssignment(sqlite3_stmt* stmt) {
  int count = sqlite3_column_count(stmt);
  if (count == 0) return false;
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(stmt, i);
    if (!name || name[0] != '@') return false;
  }
  return true;
}

bool Run::Assign(sqlite3_stmt* stmt, std::string* error, bool* raised) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  int count = sqlite3_column_count(stmt);
  std::string raise;
  for (int i = 0; i < count; ++i) {
    std::string name = sqlite3_column_name(stmt, i);
    if (SameName(name, "@@return")) {
      return_status_ = static_cast<int32_t>(sqlite3_column_int64(stmt, i));
    } else if (SameName(name, "@@error")) {
      if (sqlite3_column_type(stmt, i) != SQLITE_NULL) {
        raise = ColumnValue(stmt, i, false).text;
        *raised = true;
      }
    } else {
      int d = FindDecl(decls_, name);
      if (d < 0) {
        *error = "Must declare the scalar variable \"" + name + "\".";
        return false;
      }
      values_[static_cast<size_t>(d)] =
          ColumnValue(stmt, i, decls_[static_cast<size_t>(d)].is_int);
    }
  }
  if (*raised) *error = raise;
  return !*raised;
}

void Run::Finish() {
  ByteWriter w;
  PutReturnStatus(&w, return_status_);
  for (size_t i = 0; i < call_.params.size(); ++i) {
    const RpcParam& p = call_.params[i];
    int d = targets_[i];
    if (!p.output || d < 0) continue;
    std::string name =
        p.name.empty() ? decls_[static_cast<size_t>(d)].name : WithAt(p.name);
    Value v = values_[static_cast<size_t>(d)];
    ColumnInfo type = ReturnType(p, decls_[static_cast<size_t>(d)]);
    if (IsWide(type.type) && type.type != WireType::kNVarchar &&
        v.kind == Value::kText) {
      v.text = reply_->charset()->TextToUtf16(
          v.text, reply_->charset()->collation()->code_page);
    }
    type.collation = reply_->charset()->collation();
    if (type.type == WireType::kNVarchar && v.kind == Value::kText) {
      v.text =
          reply_->charset()->TextToUtf16(v.text, type.collation->code_page);
    } else if (type.type == WireType::kNVarchar && v.kind == Value::kInt) {
      v = Value::Text(AsciiToUtf16(v.AsText()));
    }
    // The ordinal is the parameter's place in the call, from 0.
    PutReturnValue(&w, reply_->tds72(), static_cast<uint16_t>(i),
                   reply_->charset()->GbToUtf16(name), type, v);
  }
  reply_->Write(&w);
  reply_->Done(kDoneProc, call_.more_follows ? kDoneMore : kDoneFinal);
}

ProcedureOutcome Run::Body(const std::string& text) {
  ProcedureOutcome out;
  std::string body = text;
  WriteMaxLengths(&body);
  const char* tail = body.c_str();
  const char* end = tail + body.size();
  while (tail < end) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, tail, static_cast<int>(end - tail), &raw,
                           &tail) != SQLITE_OK) {
      Fail(kUserError, sqlite3_errmsg(db_));
      return out;
    }
    if (!raw) break;  // only blanks or comments were left
    Statement stmt(raw);
    std::string error;
    if (!Bind(raw, &error)) {
      Fail(137, error);
      return out;
    }
    if (assignments_ && IsAssignment(raw)) {
      bool raised = false;
      if (!Assign(raw, &error, &raised)) {
        Fail(kUserError, error,
             raised && return_status_ != 0 ? return_status_ : -6);
        return out;
      }
      continue;
    }
    if (sqlite3_column_count(raw) == 0) {
      if (!sqlite3_stmt_readonly(raw)) EnsureRangeChecks(db_);
      int rc;
      while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) {
        Fail(kUserError, sqlite3_errmsg(db_));
        return out;
      }
      // A statement run for a client reports what it changed, as a batch does.
      if (!assignments_ && !sqlite3_stmt_readonly(raw)) {
        reply_->Done(kDoneInProc, kDoneMore | kDoneCount,
                     static_cast<uint64_t>(sqlite3_changes64(db_)), 0xC3);
      }
      continue;
    }
    StreamOutcome s = StreamResultSet(reply_, raw, call_.close_after_rows);
    switch (s.end) {
      case StreamOutcome::kDone:
        reply_->Done(kDoneInProc, kDoneMore | kDoneCount, s.rows);
        break;
      case StreamOutcome::kAttention:
        out.attention = true;
        return out;
      case StreamOutcome::kFaultClose:
        out.fault_close = true;
        return out;
      case StreamOutcome::kError:
        Fail(kUserError, s.error);
        return out;
    }
  }
  Finish();
  out.ok = true;
  return out;
}

}  // namespace

ProcedureOutcome RunProcedure(sqlite3* db, Reply* reply,
                              const ProcedureCall& call) {
  ProcedureOutcome out;
  Definition def;
  bool defined = SameName(call.name, "sp_executesql")
                     ? DefineStatement(reply, call, &def)
                     : DefineProcedure(db, reply, call, &def);
  if (!defined) return out;
  std::vector<Value> values;
  std::vector<int> targets;
  if (!MatchParams(reply, call, def, &values, &targets)) return out;

  Run run(db, reply, call, def.decls, values, targets, def.assignments);
  if (auto failure = FindFault(db, "fail_procedure", call.name)) {
    int32_t number = *failure ? static_cast<int32_t>(*failure) : kUserError;
    reply->Message(number, kSeverity,
                   "Procedure " + call.name + " failed (injected fault).",
                   call.name);
    reply->Done(kDoneInProc, kDoneMore | kDoneError);
    ByteWriter w;
    PutReturnStatus(&w, -6);
    reply->Write(&w);
    reply->Done(kDoneProc,
                static_cast<uint16_t>(kDoneError |
                                      (call.more_follows ? kDoneMore : 0)));
    return out;
  }
  if (auto delay_ms = FindFault(db, "delay_procedure", call.name)) {
    if (*delay_ms > 0 &&
        reply->channel()->WaitForAttention(static_cast<int>(*delay_ms))) {
      out.attention = true;
      return out;
    }
  }
  return run.Body(def.body);
}

}  // namespace venuedb
