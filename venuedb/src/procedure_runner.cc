#include "procedure_runner.h"

#include <memory>

#include "faults.h"
#include "procedure_text.h"

namespace venuedb {

namespace {

constexpr int32_t kUserError = 50000;
constexpr uint8_t kSeverity = 16;

struct StmtCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StmtCloser>;

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

Value Typed(const ParamDecl& decl, const Value& v) {
  if (v.is_null()) return v;
  if (decl.is_int) return v.kind == Value::kInt ? v : Value::Int(v.AsInt());
  return v.kind == Value::kText ? v : Value::Text(v.AsText());
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

// The procedure's run once its parameters are known.
class Run {
 public:
  Run(sqlite3* db, Reply* reply, const ProcedureCall& call,
      std::vector<ParamDecl> decls, std::vector<Value> values)
      : db_(db),
        reply_(reply),
        call_(call),
        decls_(std::move(decls)),
        values_(std::move(values)) {}

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
  int32_t return_status_ = 0;
};

void Run::Fail(int32_t number, const std::string& message, int32_t status) {
  reply_->Message(number, kSeverity, message, call_.name);
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
    if (!p.output) continue;
    int d = p.name.empty() ? static_cast<int>(i) : FindDecl(decls_, p.name);
    if (d < 0 || d >= static_cast<int>(decls_.size())) continue;
    std::string name =
        p.name.empty() ? decls_[static_cast<size_t>(d)].name : p.name;
    if (name[0] != '@') name = "@" + name;
    Value v = values_[static_cast<size_t>(d)];
    ColumnInfo type = p.return_type;
    if (type.type == WireType::kNVarchar && v.kind == Value::kText) {
      v.text = reply_->charset()->GbToUtf16(v.text);
    } else if (type.type == WireType::kNVarchar && v.kind == Value::kInt) {
      v = Value::Text(AsciiToUtf16(v.AsText()));
    }
    PutReturnValue(&w, reply_->tds72(), static_cast<uint16_t>(d + 1),
                   reply_->charset()->GbToUtf16(name), type, v);
  }
  reply_->Write(&w);
  reply_->Done(kDoneProc, call_.more_follows ? kDoneMore : kDoneFinal);
}

ProcedureOutcome Run::Body(const std::string& body) {
  ProcedureOutcome out;
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
    if (IsAssignment(raw)) {
      bool raised = false;
      if (!Assign(raw, &error, &raised)) {
        Fail(kUserError, error,
             raised && return_status_ != 0 ? return_status_ : -6);
        return out;
      }
      continue;
    }
    if (sqlite3_column_count(raw) == 0) {
      int rc;
      while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) {
        Fail(kUserError, sqlite3_errmsg(db_));
        return out;
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
  std::string params_text, body;
  if (!LoadProcedure(db, call.name, &params_text, &body)) {
    reply->Message(2812, kSeverity,
                   "Could not find stored procedure '" + call.name + "'.", "",
                   62);
    reply->Done(kDone, static_cast<uint16_t>(
                           kDoneError | (call.more_follows ? kDoneMore : 0)));
    return out;
  }
  std::vector<ParamDecl> decls;
  std::string error;
  if (!ParseParamDecls(params_text, &decls, &error)) {
    reply->Message(kUserError, kSeverity,
                   "Procedure " + call.name + ": " + error, call.name);
    reply->Done(kDoneProc, kDoneError);
    return out;
  }
  std::vector<Value> values;
  for (const ParamDecl& d : decls) values.push_back(d.default_value);
  for (size_t i = 0; i < call.params.size(); ++i) {
    const RpcParam& p = call.params[i];
    int d = -1;
    if (p.name.empty()) {
      d = i < decls.size() ? static_cast<int>(i) : -1;
    } else {
      std::string name = p.name[0] == '@' ? p.name : "@" + p.name;
      d = FindDecl(decls, name);
    }
    if (d < 0) {
      std::string what = p.name.empty() ? "too many arguments"
                                        : "no parameter named " + p.name;
      reply->Message(
          p.name.empty() ? 8144 : 8145, kSeverity,
          "Procedure or function " + call.name + " has " + what + ".",
          call.name);
      reply->Done(kDone, static_cast<uint16_t>(
                             kDoneError | (call.more_follows ? kDoneMore : 0)));
      return out;
    }
    values[static_cast<size_t>(d)] =
        Typed(decls[static_cast<size_t>(d)], p.value);
  }
  for (size_t i = 0; i < decls.size(); ++i)
    values[i] = Typed(decls[i], values[i]);

  Run run(db, reply, call, decls, values);
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
  return run.Body(body);
}

}  // namespace venuedb
