// The exchange frame and the sending side: parameters, procedure calls and SQL
// texts. Reading rows and return parameters is in exchange_results.cc.
#include "frame/exchange.h"

#include <cassert>
#include <cstring>

#include "frame/db_library.h"

namespace rondel {

namespace {

// A call that was not sent stays attached to the connection, and closing the
// connection does not free it: it is dropped here. A dead connection refuses
// (and reports) even that, so its call is left to the library: a few hundred
// bytes per connection lost while a call was being sent.
void DropPendingCall(DBPROCESS* db) {
  if (!dbdead(db)) (void)dbrpcinit(db, "", DBRPCRESET);
}

constexpr int kTextOutputMaxLength = 200;

Param MakeParam(Param::Kind kind, const char* name) {
  Param p{};
  p.kind = kind;
  p.name = name;
  p.max_length = -1;
  p.data_length = -1;
  return p;
}

}  // namespace

Param Param::Int(const char* name, int32_t value) {
  Param p = MakeParam(Kind::kInt, name);
  p.int_value = value;
  return p;
}

Param Param::Text(const char* name, const char* text, int max_length) {
  assert(text != nullptr);
  Param p = MakeParam(Kind::kText, name);
  p.text = text != nullptr ? text : "";
  p.max_length = max_length;
  p.data_length = static_cast<int>(std::strlen(p.text));
  return p;
}

Param Param::OptionalText(const char* name, const char* text) {
  return text != nullptr ? Text(name, text) : MakeParam(Kind::kOmitted, name);
}

Param Param::NullInt(const char* name) {
  Param p = MakeParam(Kind::kNullInt, name);
  p.data_length = 0;
  return p;
}

Param Param::NullText(const char* name, int max_length) {
  Param p = MakeParam(Kind::kNullText, name);
  p.max_length = max_length;
  p.data_length = 0;
  return p;
}

Param Param::IntOutput(const char* name, int32_t* ref) {
  Param p = MakeParam(Kind::kIntOutput, name);
  p.int_ref = ref;
  return p;
}

Param Param::TextOutput(const char* name) {
  Param p = MakeParam(Kind::kTextOutput, name);
  p.max_length = kTextOutputMaxLength;
  p.data_length = 0;
  return p;
}

Exchange::Exchange() : Exchange(kDeferOpen) { session_ = Session::Open(); }

// The lock is not re-entrant: a second exchange on the same thread would wait
// for itself.
static platform::Lock& LockNotHeldHere() {
  assert(!CatalogueLock().HeldByThisThread());
  return CatalogueLock();
}

Exchange::Exchange(DeferOpen) : lock_holder_(LockNotHeldHere()) {
  std::memset(text_output_scratch_, 0, sizeof text_output_scratch_);
}

Exchange::Exchange(const Limits& limits)
    : lock_holder_(LockNotHeldHere(), limits.lock_wait),
      timeout_seconds_(limits.timeout_seconds) {
  assert(timeout_seconds_ >= 1);
  std::memset(text_output_scratch_, 0, sizeof text_output_scratch_);
  (void)Reconnect();
}

// The members do the work: the session closes first, then the lock holder
// releases.
Exchange::~Exchange() = default;

bool Exchange::alive() const { return connected() && !dbdead(Db(session_)); }

bool Exchange::Reconnect() {
  session_.Close();
  if (!lock_holder_.owns()) return false;
  session_ = timeout_seconds_ > 0 ? Session::OpenWithin(timeout_seconds_)
                                  : Session::Open();
  return session_.valid();
}

bool Exchange::SendProcedure(const char* procedure, const Param* params,
                             size_t count) {
  if (!connected()) return false;
  DBPROCESS* db = Db(session_);
  if (dbrpcinit(db, procedure, 0) != SUCCEED) return false;
  for (size_t i = 0; i < count; ++i) {
    const Param& p = params[i];
    if (p.kind == Param::Kind::kOmitted) continue;
    BYTE status = 0;
    int type = SQLINT4;
    BYTE* value = nullptr;
    switch (p.kind) {
      case Param::Kind::kInt:
        value = ValueBytes(&p.int_value);
        break;
      case Param::Kind::kText:
        type = SQLVARCHAR;
        value = ValueBytes(p.text);
        break;
      case Param::Kind::kNullInt:
        break;
      case Param::Kind::kNullText:
        type = SQLVARCHAR;
        break;
      case Param::Kind::kIntOutput:
        status = DBRPCRETURN;
        value = ValueBytes(p.int_ref);
        break;
      case Param::Kind::kTextOutput:
        status = DBRPCRETURN;
        type = SQLVARCHAR;
        value = ValueBytes(text_output_scratch_);
        break;
      case Param::Kind::kOmitted:
        break;
    }
    // A maximum length means something only for output parameters; this client
    // library refuses a positive one on an input (error 20194) and would fail
    // the whole call, so an input goes with -1 and the server sees the value's
    // own length.
    const int max_length = status == 0 && p.max_length > 0 ? -1 : p.max_length;
    if (dbrpcparam(db, p.name, status, type, max_length, p.data_length,
                   value) != SUCCEED) {
      DropPendingCall(db);
      return false;
    }
  }
  if (dbrpcsend(db) != SUCCEED) {
    DropPendingCall(db);
    return false;
  }
  return true;
}

bool Exchange::Call(const char* procedure,
                    std::initializer_list<Param> params) {
  return Call(procedure, params.begin(), params.size());
}

bool Exchange::Call(const char* procedure, const Param* params, size_t count) {
  return SendProcedure(procedure, params, count) && Confirm();
}

bool Exchange::CallSendOnly(const char* procedure,
                            std::initializer_list<Param> params) {
  return CallSendOnly(procedure, params.begin(), params.size());
}

bool Exchange::CallSendOnly(const char* procedure, const Param* params,
                            size_t count) {
  return SendProcedure(procedure, params, count);
}

bool Exchange::Confirm() {
  return connected() && dbsqlok(Db(session_)) == SUCCEED;
}

bool Exchange::Sql(const char* text) {
  if (!connected()) return false;
  DBPROCESS* db = Db(session_);
  return dbcmd(db, text) == SUCCEED && dbsqlsend(db) == SUCCEED &&
         dbsqlok(db) == SUCCEED;
}

bool Exchange::SqlExec(const char* text) {
  if (!connected()) return false;
  DBPROCESS* db = Db(session_);
  // Both calls are made whatever the first answers: the result is one flag.
  bool filled = dbcmd(db, text) == SUCCEED;
  bool executed = dbsqlexec(db) == SUCCEED;
  return filled && executed;
}

}  // namespace rondel
