#include "transaction.h"

#include <atomic>
#include <cctype>
#include <cstdlib>

#include "sql_words.h"

namespace venuedb {

namespace {

constexpr uint8_t kEnvBegin = 8;
constexpr uint8_t kEnvCommit = 9;
constexpr uint8_t kEnvRollback = 10;

// Descriptors only have to differ between the transactions a client sees.
std::atomic<uint64_t> next_descriptor{1};

void ReadEnd(SqlWords* words, SessionStatement* st) {
  if (words->TakeIfAny({"tran", "transaction"})) {
    st->name = words->TakeName();
  } else {
    words->TakeIf("work");
  }
}

}  // namespace

SessionStatement ReadSessionStatement(const std::string& sql, size_t pos) {
  SessionStatement st;
  SqlWords words(sql, pos);
  st.word = words.Take();
  if (st.word == "if") {
    // IF @@TRANCOUNT > 0, with or without parentheses.
    bool paren = words.TakeIf("(");
    if (!words.TakeIf("@@trancount") || !words.TakeIf(">") ||
        !words.TakeIf("0") || (paren && !words.TakeIf(")"))) {
      return SessionStatement{SessionStatement::kNone, false, "", 0, st.word};
    }
    std::string next = words.Take();
    if (next != "commit" && next != "rollback") {
      return SessionStatement{SessionStatement::kNone, false, "", 0, st.word};
    }
    st.only_if_open = true;
    st.kind = next == "commit" ? SessionStatement::kCommit
                               : SessionStatement::kRollback;
    ReadEnd(&words, &st);
  } else if (st.word == "begin" && words.TakeIfAny({"tran", "transaction"})) {
    st.kind = SessionStatement::kBegin;
    st.name = words.TakeName();
  } else if (st.word == "commit" || st.word == "rollback") {
    st.kind = st.word == "commit" ? SessionStatement::kCommit
                                  : SessionStatement::kRollback;
    ReadEnd(&words, &st);
  } else if (st.word == "save" && words.TakeIfAny({"tran", "transaction"})) {
    st.kind = SessionStatement::kSave;
    st.name = words.TakeName();
  } else if (st.word == "set" && words.TakeIf("implicit_transactions")) {
    std::string value = words.Take();
    if (value != "on" && value != "off") return SessionStatement{};
    st.kind = SessionStatement::kImplicitTransactions;
    st.number = value == "on" ? 1 : 0;
  } else if (st.word == "set" && words.TakeIf("lock_timeout")) {
    bool negative = words.TakeIf("-");
    std::string value = words.Take();
    char* tail = nullptr;
    long long number = std::strtoll(value.c_str(), &tail, 10);
    if (value.empty() || *tail != '\0') return SessionStatement{};
    st.kind = SessionStatement::kLockTimeout;
    st.number = negative ? -number : number;
  } else {
    return SessionStatement{SessionStatement::kNone, false, "", 0, st.word};
  }
  st.end = words.pos();
  return st;
}

void ClientTransaction::PutEnvChange(ByteWriter* w, uint8_t type) const {
  w->U8(0xE3);
  w->U16(11);
  w->U8(type);
  if (type == kEnvBegin) {
    w->U8(8);
    w->U64(descriptor_);
    w->U8(0);
  } else {
    w->U8(0);
    w->U8(8);
    w->U64(descriptor_);
  }
}

bool ClientTransaction::Exec(const std::string& sql, ClientError* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
    return true;
  }
  error->number = 50000;
  error->message = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool ClientTransaction::Begin(ByteWriter* w, bool tds72, ClientError* error) {
  Follow();
  if (count_ == 0) {
    if (!Exec("BEGIN", error)) return false;
    descriptor_ = next_descriptor++;
    if (tds72) PutEnvChange(w, kEnvBegin);
  }
  ++count_;
  return true;
}

bool ClientTransaction::Commit(ByteWriter* w, bool tds72, ClientError* error) {
  Follow();
  if (count_ == 0) {
    error->number = 3902;
    error->message =
        "The COMMIT TRANSACTION request has no corresponding BEGIN "
        "TRANSACTION.";
    return false;
  }
  if (count_ > 1) {
    --count_;
    return true;
  }
  if (!Exec("COMMIT", error)) return false;
  count_ = 0;
  savepoints_.clear();
  if (tds72) PutEnvChange(w, kEnvCommit);
  return true;
}

bool ClientTransaction::Rollback(const std::string& name, ByteWriter* w,
                                 bool tds72, ClientError* error) {
  Follow();
  if (count_ == 0) {
    error->number = 3903;
    error->message =
        "The ROLLBACK TRANSACTION request has no corresponding BEGIN "
        "TRANSACTION.";
    return false;
  }
  for (size_t i = savepoints_.size(); i-- > 0;) {
    if (savepoints_[i] != name) continue;
    savepoints_.resize(i + 1);
    return Exec("ROLLBACK TO \"" + name + "\"", error);
  }
  if (!Exec("ROLLBACK", error)) return false;
  count_ = 0;
  savepoints_.clear();
  if (tds72) PutEnvChange(w, kEnvRollback);
  return true;
}

bool ClientTransaction::Save(const std::string& name, ClientError* error) {
  Follow();
  if (count_ == 0) {
    error->number = 628;
    error->message =
        "Cannot issue SAVE TRANSACTION when there is no active transaction.";
    return false;
  }
  for (char c : name) {
    if (c == '"') {
      error->number = 102;
      error->message = "Incorrect syntax near '" + name + "'.";
      return false;
    }
  }
  if (!Exec("SAVEPOINT \"" + name + "\"", error)) return false;
  savepoints_.push_back(name);
  return true;
}

void ClientTransaction::Follow() {
  bool open = !sqlite3_get_autocommit(db_);
  if (open && count_ == 0) {
    count_ = 1;
    descriptor_ = next_descriptor++;
  } else if (!open && count_ > 0) {
    count_ = 0;
    savepoints_.clear();
  }
}

bool ClientTransaction::RollBackOpen() {
  if (sqlite3_get_autocommit(db_)) return false;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  count_ = 0;
  savepoints_.clear();
  return true;
}

TransactionManagerRequest ReadTransactionManagerRequest(
    const std::string& payload, bool tds72, Charset* charset) {
  TransactionManagerRequest request;
  ByteReader r(payload);
  if (tds72) {
    uint32_t headers = r.U32();
    if (headers < 4) headers = payload.size() + 1;  // fails the reader
    r.Skip(headers - 4);
  }
  request.type = r.U16();
  auto name = [&]() {
    std::string utf16 = r.Bytes(r.U8() * 2u);
    std::string text;
    charset->Utf16ToGb(utf16, &text);
    return text;
  };
  switch (request.type) {
    case kTmBegin:
      request.what = "begin";
      r.U8();  // isolation level: SQLite's transactions are serializable
      request.name = name();
      break;
    case kTmCommit:
    case kTmRollback:
      request.what = request.type == kTmCommit ? "commit" : "rollback";
      request.name = name();
      request.begin_after = r.U8() & 0x01;
      if (request.begin_after) {
        r.U8();
        name();
      }
      break;
    case kTmSave:
      request.what = "save";
      request.name = name();
      break;
    case kTmGetDtcAddress:
    case kTmPropagate:
    case kTmPromote:
      request.what = "distributed";
      break;
  }
  request.complete = !r.failed();
  return request;
}

}  // namespace venuedb
