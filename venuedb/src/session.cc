#include "session.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "batch.h"
#include "channel.h"
#include "charset.h"
#include "faults.h"
#include "globals.h"
#include "journal.h"
#include "login.h"
#include "procedure_runner.h"
#include "procedure_text.h"
#include "refusal.h"
#include "reply.h"
#include "rpc_request.h"
#include "server_functions.h"
#include "sql_words.h"
#include "sqlite_handles.h"
#include "store.h"
#include "tokens.h"
#include "transaction.h"

namespace venuedb {

namespace {

// What a login is answered with: the TDS version (the client's, within 7.1
// and 7.4), the packet size (the client's, within 512 and 32767; 4096 when it
// asks for the server's), its errors and the environment changes it reports.
constexpr uint32_t kTds71 = 0x71000001;
constexpr uint32_t kTds74 = 0x74000004;
constexpr size_t kDefaultPacketSize = 4096;
constexpr size_t kMinPacketSize = 512;
constexpr size_t kMaxPacketSize = 32767;
constexpr int kLoginFailed = 18456;
constexpr int kLoginFailedClass = 14;
constexpr int kCannotOpenDatabase = 4060;
constexpr int kCannotOpenDatabaseClass = 11;
constexpr uint8_t kEnvDatabase = 1;
constexpr uint8_t kEnvLanguage = 2;
constexpr uint8_t kEnvPacketSize = 4;

uint32_t AnsweredVersion(uint32_t asked) {
  return asked < 0x71000000 ? kTds71 : asked > kTds74 ? kTds74 : asked;
}

size_t AnsweredPacketSize(uint32_t asked) {
  if (asked == 0) return kDefaultPacketSize;
  return asked < kMinPacketSize   ? kMinPacketSize
         : asked > kMaxPacketSize ? kMaxPacketSize
                                  : asked;
}
// SQLite instructions between two looks at the socket during a long step.
constexpr int kProgressSteps = 20000;

std::mutex log_mutex;

// Statements that open a transaction when IMPLICIT_TRANSACTIONS is on.
bool StartsImplicitTransaction(const std::string& word) {
  static const char* const kWords[] = {
      "alter",  "create",   "delete", "drop", "exec",    "execute",
      "fetch",  "grant",    "insert", "open", "replace", "revoke",
      "select", "truncate", "update", "with"};
  for (const char* w : kWords) {
    if (word == w) return true;
  }
  return false;
}

class Session : public BatchHost, public GlobalValues {
 public:
  Session(int fd, int64_t conn_id, const std::string& peer,
          const SessionOptions& options)
      : options_(options),
        peer_(peer),
        journal_(options.journal),
        channel_(fd, NextSpid()),
        reply_(&channel_, &charset_),
        lock_timeout_ms_(options.lock_timeout_ms),
        conn_id_(conn_id) {}
  ~Session() override {
    transaction_.reset();
    db_.reset();
  }

  void Serve();
  bool UseDatabase(const std::string& name, std::string* canonical,
                   std::string* previous) override;
  bool OwnStatement(const std::string& sql, size_t pos, size_t* end,
                    int32_t* error_number, std::string* error_message) override;
  int TransactionCount() const override {
    return transaction_ ? transaction_->count() : 0;
  }
  int ProcessId() const override { return channel_.spid(); }
  BatchSettings* settings() override { return &batch_settings_; }

 private:
  static uint16_t NextSpid() {
    static std::atomic<uint16_t> next{51};
    return next++;
  }
  // A statement waiting for a lock another connection holds: waits in short
  // steps up to the lock timeout, and not at all for a client that has gone
  // or cancelled.
  static int OnBusy(void* self, int attempt);
  // Every kProgressSteps SQLite instructions: interrupts the statement when
  // the client has gone or cancelled, so no step outlives its client.
  static int OnProgress(void* self);

  void Log(const char* format, const std::string& a = "",
           const std::string& b = "");
  void Loop();
  // Refuses a request that would take incomplete requests past their memory
  // cap: journaled as failed, answered with error 701.
  void RefuseOverMemoryCap(uint8_t type);
  // Opens this connection's handle on the database. Returns false with
  // SQLite's message in *error.
  bool OpenDatabaseHandle(std::string* error);
  bool HandleLogin(const std::string& payload);
  // The steps of a login: a refusal when the database cannot be opened, the
  // user's password and default database, a refusal, the acknowledgement.
  bool RefuseWithoutDatabase(const LoginRequest& login,
                             const std::string& open_error);
  bool CheckPassword(const LoginRequest& login, std::string* default_database);
  void RefuseLogin(const LoginRequest& login, bool password_ok,
                   const std::string& requested);
  void AcknowledgeLogin(uint32_t version, size_t packet_size);
  void HandleBatch(const std::string& payload);
  void HandleRpc(const std::string& payload);
  void HandleTransactionManager(const std::string& payload);
  void HandleAttention();
  // Records the attention in the journal and acknowledges it.
  void AcknowledgeAttention();
  // Journals the request being answered as it arrives; a test's
  // raise_in_session fault throws here.
  void BeginRequest(const std::string& kind, const std::string& text,
                    const std::vector<JournalParam>& params = {});
  void EndRequest(Outcome outcome);
  // Ends a request's reply: its outcome, the attention's acknowledgement, the
  // last packet.
  void Complete(bool ok, bool attention);
  void BeginImplicitTransaction();
  [[noreturn]] void FaultClose();
  // Rolls back what the client left open, writes the close row and closed_us
  // once.
  void RecordClose(const std::string& reason);
  bool KnownDatabase(const std::string& name, std::string* canonical);

  SessionOptions options_;
  std::string peer_;
  DeferredDbHandle db_;  // opened at the login
  Journal* journal_;
  Charset charset_;
  Channel channel_;
  Reply reply_;
  std::optional<ClientTransaction> transaction_;  // once db_ is open
  int lock_timeout_ms_;
  bool implicit_transactions_ = false;
  BatchSettings batch_settings_;  // SET FMTONLY, SET NOCOUNT
  std::chrono::steady_clock::time_point busy_since_;
  int64_t conn_id_ = 0;
  int64_t request_ = 0;  // journal id of the request being answered
  bool logged_in_ = false;
  bool close_recorded_ = false;
  std::string close_reason_;  // the close row's text when nothing failed
  std::string user_;
  std::string database_;
};

int Session::OnBusy(void* self, int attempt) {
  Session* s = static_cast<Session*>(self);
  auto now = std::chrono::steady_clock::now();
  if (attempt == 0) s->busy_since_ = now;
  if (now - s->busy_since_ >= std::chrono::milliseconds(s->lock_timeout_ms_))
    return 0;
  if (!s->channel_.CheckPeer() || s->channel_.attention()) return 0;
  usleep(attempt < 10 ? 20 : 200);
  return 1;
}

int Session::OnProgress(void* self) {
  Session* s = static_cast<Session*>(self);
  return !s->channel_.CheckPeer() || s->channel_.attention();
}

void Session::Log(const char* format, const std::string& a,
                  const std::string& b) {
  if (!options_.verbose) return;
  // One line per event: line breaks of SQL texts become blanks.
  auto flat = [](std::string text) {
    for (char& c : text) {
      if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
  };
  std::lock_guard<std::mutex> lock(log_mutex);
  std::fprintf(stderr,
               "venuedb: conn %lld: ", static_cast<long long>(conn_id_));
  std::fprintf(stderr, format, flat(a).c_str(), flat(b).c_str());
  std::fputc('\n', stderr);
}

bool Session::KnownDatabase(const std::string& name, std::string* canonical) {
  Statement stmt =
      Prepare(db_.get(), "SELECT name FROM vdb_databases WHERE name=?1");
  if (!stmt) return false;
  sqlite3_bind_text(stmt.get(), 1, name.data(), static_cast<int>(name.size()),
                    SQLITE_TRANSIENT);
  bool found = sqlite3_step(stmt.get()) == SQLITE_ROW;
  if (found) {
    *canonical =
        reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  }
  return found;
}

bool Session::UseDatabase(const std::string& name, std::string* canonical,
                          std::string* previous) {
  bool ok = KnownDatabase(name, canonical);
  journal_->Record(conn_id_, "use", user_, name,
                   ok ? Outcome::kOk : Outcome::kFailed);
  Log("use %s: %s", name, ok ? "ok" : "unknown database");
  if (!ok) return false;
  *previous = database_;
  database_ = *canonical;
  journal_->SetDatabase(conn_id_, database_);
  return true;
}

bool Session::OwnStatement(const std::string& sql, size_t pos, size_t* end,
                           int32_t* error_number, std::string* error_message) {
  SessionStatement st = ReadSessionStatement(sql, pos);
  transaction_->Follow();
  if (st.kind == SessionStatement::kNone) {
    if (implicit_transactions_ && StartsImplicitTransaction(st.word))
      BeginImplicitTransaction();
    return false;
  }
  ByteWriter w;
  ClientError error;
  bool ok = true;
  bool open = transaction_->count() > 0;
  switch (st.kind) {
    case SessionStatement::kNone:
      break;
    case SessionStatement::kBegin:
      ok = transaction_->Begin(&w, reply_.tds72(), &error);
      break;
    case SessionStatement::kCommit:
      if (open || !st.only_if_open)
        ok = transaction_->Commit(&w, reply_.tds72(), &error);
      break;
    case SessionStatement::kRollback:
      if (open || !st.only_if_open)
        ok = transaction_->Rollback(st.name, &w, reply_.tds72(), &error);
      break;
    case SessionStatement::kSave:
      ok = transaction_->Save(st.name, &error);
      break;
    case SessionStatement::kImplicitTransactions:
      implicit_transactions_ = st.number != 0;
      break;
    case SessionStatement::kLockTimeout:
      lock_timeout_ms_ = st.number < 0 || st.number > INT32_MAX
                             ? options_.lock_timeout_ms
                             : static_cast<int>(st.number);
      break;
  }
  reply_.Write(&w);
  *end = st.end;
  if (!ok) {
    *error_number = error.number;
    *error_message = error.message;
  }
  return true;
}

void Session::BeginImplicitTransaction() {
  transaction_->Follow();
  if (transaction_->count() > 0) return;
  ByteWriter w;
  ClientError error;
  if (transaction_->Begin(&w, reply_.tds72(), &error)) reply_.Write(&w);
}

bool Session::OpenDatabaseHandle(std::string* error) {
  db_ = DeferClose(OpenDatabase(options_.db_path, error));
  if (!db_) return false;
  sqlite3_busy_handler(db_.get(), &Session::OnBusy, this);
  sqlite3_progress_handler(db_.get(), kProgressSteps, &Session::OnProgress,
                           this);
  DefineGlobals(db_.get(), this);
  DefineServerFunctions(db_.get(), [this] { return database_; });
  charset_.set_collation(DatabaseCollation(db_.get()));
  transaction_.emplace(db_.get());
  return true;
}

bool Session::HandleLogin(const std::string& payload) {
  LoginRequest login;
  if (!ParseLogin7(payload, &login)) {
    Log("malformed login");
    return false;
  }
  user_ = login.user;
  reply_.set_tds_version(AnsweredVersion(login.tds_version));
  std::string open_error;
  if (!db_ && !OpenDatabaseHandle(&open_error))
    return RefuseWithoutDatabase(login, open_error);

  const size_t packet_size = AnsweredPacketSize(login.packet_size);
  std::string default_database = "master";
  const bool password_ok = CheckPassword(login, &default_database) &&
                           !FindFault(db_.get(), "refuse_login", login.user);
  const std::string requested =
      login.database.empty() ? default_database : login.database;
  std::string canonical;
  const bool accepted = password_ok && KnownDatabase(requested, &canonical);
  if (accepted) database_ = canonical;

  journal_->SetLogin(conn_id_, login.user, login.password, login.app,
                     login.host, accepted ? database_ : requested,
                     TdsVersionName(login.tds_version),
                     static_cast<int64_t>(packet_size), !accepted);
  journal_->Record(conn_id_, "login", login.user, login.database,
                   accepted ? Outcome::kOk : Outcome::kFailed);
  Log("login %s: %s", login.user, accepted ? "accepted" : "refused");
  if (!accepted) {
    RefuseLogin(login, password_ok, requested);
    return false;
  }
  AcknowledgeLogin(AnsweredVersion(login.tds_version), packet_size);
  return true;
}

// Out of descriptors or memory: the client hears a failed login, the journal
// and the log say why.
bool Session::RefuseWithoutDatabase(const LoginRequest& login,
                                    const std::string& open_error) {
  std::fprintf(stderr, "venuedb: conn %lld: %s\n",
               static_cast<long long>(conn_id_), open_error.c_str());
  JournalRefusedLogin(journal_, conn_id_, login);
  reply_.Message(kLoginFailed, kLoginFailedClass,
                 "Login failed for user '" + login.user +
                     "'. The server cannot open its database now.");
  reply_.Done(kDone, kDoneError, 0, 0);
  channel_.EndMessage();
  close_reason_ = "refused: database unavailable";
  return false;
}

// The password is compared as sent; the user name in any case.
bool Session::CheckPassword(const LoginRequest& login,
                            std::string* default_database) {
  bool ok = false;
  Statement owned = Prepare(
      db_.get(),
      "SELECT password, default_database FROM vdb_logins WHERE name=?1");
  if (sqlite3_stmt* stmt = owned.get()) {
    sqlite3_bind_text(stmt, 1, login.user.data(),
                      static_cast<int>(login.user.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      const char* password =
          reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      const char* database =
          reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
      ok = login.password == (password ? password : "");
      if (database && *database) *default_database = database;
    }
  }
  return ok;
}

void Session::RefuseLogin(const LoginRequest& login, bool password_ok,
                          const std::string& requested) {
  if (password_ok) {
    reply_.Message(kCannotOpenDatabase, kCannotOpenDatabaseClass,
                   "Cannot open database \"" + requested +
                       "\" requested by the login. The login failed.");
  }
  reply_.Message(kLoginFailed, kLoginFailedClass,
                 "Login failed for user '" + login.user + "'.");
  reply_.Done(kDone, kDoneError, 0, 0);
  channel_.EndMessage();
}

void Session::AcknowledgeLogin(uint32_t version, size_t packet_size) {
  ByteWriter w;
  PutEnvChangeText(&w, kEnvDatabase, charset_.GbToUtf16(database_),
                   AsciiToUtf16("master"));
  PutEnvChangeCollation(&w, *charset_.collation());
  PutEnvChangeText(&w, kEnvLanguage, AsciiToUtf16("us_english"), std::string());
  PutLoginAck(&w, version, "Microsoft SQL Server");
  PutEnvChangeText(&w, kEnvPacketSize,
                   AsciiToUtf16(std::to_string(packet_size)),
                   AsciiToUtf16(std::to_string(kDefaultPacketSize)));
  reply_.Write(&w);
  reply_.Done(kDone, kDoneFinal, 0, 0);
  channel_.EndMessage();
  channel_.set_packet_size(packet_size);
  logged_in_ = true;
}

void Session::BeginRequest(const std::string& kind, const std::string& text,
                           const std::vector<JournalParam>& params) {
  request_ = journal_->Begin(conn_id_, kind, user_, text, params);
  if (FindFault(db_.get(), "raise_in_session", kind))
    throw std::runtime_error("raise_in_session fault");
}

void Session::EndRequest(Outcome outcome) {
  journal_->End(request_, outcome);
  request_ = 0;
}

void Session::Complete(bool ok, bool attention) {
  transaction_->Follow();
  // A reply whose client has gone is abandoned, whatever its tokens say.
  if (!channel_.CheckPeer()) throw ChannelClosed("peer closed");
  bool cancelled = attention || channel_.attention();
  EndRequest(cancelled ? Outcome::kCancelled
             : ok      ? Outcome::kOk
                       : Outcome::kFailed);
  if (cancelled) AcknowledgeAttention();
  channel_.EndMessage();
}

void Session::AcknowledgeAttention() {
  journal_->Record(conn_id_, "attention", user_, "", Outcome::kOk);
  Log("attention");
  if (channel_.reply_begun()) {
    // The client is reading the cancelled reply: it ends here, and the
    // acknowledgement comes as a reply of its own, which is where a client
    // that drops the rest of the cancelled reply looks for it.
    reply_.Done(kDone, kDoneFinal, 0, 0);
    channel_.EndMessage();
  }
  reply_.Done(kDone, kDoneAttention, 0, 0);
  channel_.clear_attention();
}

void Session::FaultClose() {
  // Recorded before the socket goes, so a client that sees the cut finds the
  // rows.
  EndRequest(Outcome::kAbandoned);
  RecordClose("close_after_rows");
  Log("closing after rows (fault)");
  channel_.FlushPartial();
  channel_.Close();
  throw ChannelClosed("fault close");
}

void Session::RecordClose(const std::string& reason) {
  if (close_recorded_) return;
  close_recorded_ = true;
  if (transaction_ && transaction_->RollBackOpen())
    Log("open transaction rolled back");
  journal_->CloseConnection(conn_id_, user_, reason);
}

void Session::HandleBatch(const std::string& payload) {
  std::string sql = BatchSqlText(payload, reply_.tds72(), &charset_);
  Log("batch %s", sql.substr(0, 200));
  BeginRequest("batch", sql);
  BatchOutcome out = RunBatch(db_.get(), &reply_, this, sql);
  if (out.only_use) {
    // The use row recorded by UseDatabase stands for the whole batch.
    journal_->Forget(request_);
    request_ = 0;
  }
  if (out.fault_close) FaultClose();
  Complete(out.ok, out.attention);
}

namespace {

// The statement of an sp_executesql call that carries nothing else (no
// parameter values, no declarations); null for any other call.
const std::string* LoneStatement(const RpcRequest& request) {
  if (!SameName(request.name, "sp_executesql")) return nullptr;
  const std::vector<RpcParam>& params = request.params;
  auto named = [](const RpcParam& p, const char* name) {
    return p.name.empty() || SameName(p.name, name) ||
           SameName(p.name, std::string("@") + name);
  };
  if (params.empty() || params.size() > 2 || params[0].kind != "varchar" ||
      params[0].value.is_null() ||
      !(named(params[0], "stmt") || named(params[0], "statement"))) {
    return nullptr;
  }
  if (params.size() == 2 &&
      !(named(params[1], "params") &&
        (params[1].value.is_null() || params[1].value.AsText().empty()))) {
    return nullptr;
  }
  return &params[0].value.text;
}

}  // namespace

void Session::HandleRpc(const std::string& payload) {
  RpcRequest request;
  std::string error;
  if (!ParseRpc(payload, reply_.tds72(), &charset_, &request, &error)) {
    journal_->Record(conn_id_, "rpc", user_, request.name, Outcome::kFailed);
    reply_.Message(8009, 16, "The incoming RPC request is malformed: " + error);
    reply_.Done(kDone, kDoneError, 0, 0);
    channel_.EndMessage();
    return;
  }
  std::vector<JournalParam> params;
  for (const RpcParam& p : request.params) {
    JournalParam j;
    j.name = p.name;
    j.type = p.kind;
    j.type_code = p.type_code;
    j.output = p.output;
    j.max_length = p.max_length;
    j.value = p.value;
    params.push_back(j);
  }
  Log("rpc %s", request.name);
  if (request.name.empty()) {
    BeginRequest("rpc", std::to_string(request.proc_id), params);
    reply_.Message(2812, 16,
                   "Could not find stored procedure with id " +
                       std::to_string(request.proc_id) + ".");
    reply_.Done(kDone, kDoneError, 0, 0);
    Complete(false, false);
    return;
  }
  BeginRequest("rpc", request.name, params);
  if (const std::string* statement = LoneStatement(request)) {
    // Clients send plain SQL this way: it runs as a batch would, so `exec`,
    // `use`, `set` and transactions work here too. As in SQL Server, the SET
    // options it changes last only as long as it runs.
    const BatchSettings caller_settings = batch_settings_;
    BatchOutcome out = RunBatch(db_.get(), &reply_, this, *statement);
    batch_settings_ = caller_settings;
    if (out.fault_close) FaultClose();
    Complete(out.ok, out.attention);
    return;
  }
  if (implicit_transactions_) BeginImplicitTransaction();
  ProcedureCall call;
  call.name = request.name;
  call.params = std::move(request.params);
  call.close_after_rows =
      FindFault(db_.get(), "close_after_rows", call.name).value_or(-1);
  ProcedureOutcome out = RunProcedure(db_.get(), &reply_, call);
  if (out.fault_close) FaultClose();
  Complete(out.ok, out.attention);
}

void Session::HandleTransactionManager(const std::string& payload) {
  TransactionManagerRequest request =
      ReadTransactionManagerRequest(payload, reply_.tds72(), &charset_);
  const uint16_t type = request.type;
  const std::string& transaction_name = request.name;
  const bool begin_after = request.begin_after;
  const char* what = request.what;
  std::string text = transaction_name.empty() ? std::string(what)
                                              : what + (" " + transaction_name);
  Log("transaction %s", text);
  BeginRequest("transaction", text);
  ByteWriter w;
  ClientError error;
  bool ok = request.complete;
  if (!ok) {
    error = {4002,
             "The incoming tabular data stream (TDS) protocol stream is "
             "incorrect."};
  } else if (type == kTmBegin) {
    ok = transaction_->Begin(&w, reply_.tds72(), &error);
  } else if (type == kTmCommit || type == kTmRollback) {
    ok = type == kTmCommit ? transaction_->Commit(&w, reply_.tds72(), &error)
                           : transaction_->Rollback(transaction_name, &w,
                                                    reply_.tds72(), &error);
    if (ok && begin_after) ok = transaction_->Begin(&w, reply_.tds72(), &error);
  } else if (type == kTmSave) {
    ok = transaction_->Save(transaction_name, &error);
  } else if (std::string(what) == "distributed") {
    ok = false;
    error = {8501, "MSDTC on server 'VENUEDB' is unavailable."};
  } else {
    ok = false;
    error = {4002,
             "The incoming tabular data stream (TDS) protocol stream is "
             "incorrect."};
  }
  reply_.Write(&w);
  if (!ok) reply_.Message(error.number, 16, error.message);
  reply_.Done(kDone, ok ? kDoneFinal : kDoneError, 0, 0);
  Complete(ok, false);
}

void Session::HandleAttention() {
  AcknowledgeAttention();
  channel_.EndMessage();
}

void Session::RefuseOverMemoryCap(uint8_t type) {
  const char* kind = type == kSqlBatch             ? "batch"
                     : type == kRpc                ? "rpc"
                     : type == kTransactionManager ? "transaction"
                     : type == kLogin7             ? "login"
                                                   : "request";
  journal_->Record(conn_id_, kind, user_, "", Outcome::kFailed);
  Log("%s refused: incomplete requests over the memory cap", kind);
  reply_.Message(701, 17,
                 "There is insufficient system memory in resource pool "
                 "'default' to run this query.");
  reply_.Done(kDone, kDoneError, 0, 0);
  channel_.EndMessage();
}

void Session::Loop() {
  constexpr size_t kKeptPayload = 64 << 10;
  uint8_t type = 0;
  std::string payload;
  channel_.set_read_limits(
      std::chrono::steady_clock::now() +
          std::chrono::milliseconds(options_.login_timeout_ms),
      options_.request_timeout_ms, options_.request_memory);
  for (;;) {
    // A large request's room is not kept for an idle connection.
    if (payload.capacity() > kKeptPayload) std::string().swap(payload);
    try {
      if (!channel_.ReadMessage(&type, &payload)) return;
    } catch (const RequestOverMemoryCap& e) {
      RefuseOverMemoryCap(e.type);
      close_reason_ = "request_memory_cap";
      return;
    } catch (const ChannelTimedOut&) {
      close_reason_ = logged_in_ ? "request_timeout" : "login_timeout";
      Log("%s", close_reason_);
      return;
    }
    if (type == kAttention) {
      HandleAttention();
      continue;
    }
    if (!logged_in_) {
      if (type == kPrelogin) {
        channel_.Write(PreloginReply());
        channel_.EndMessage();
      } else if (type == kLogin7) {
        if (!HandleLogin(payload)) break;
        channel_.set_read_limits(std::chrono::steady_clock::time_point::max(),
                                 options_.request_timeout_ms,
                                 options_.request_memory);
      } else {
        break;
      }
      continue;
    }
    if (type == kSqlBatch) {
      HandleBatch(payload);
    } else if (type == kRpc) {
      HandleRpc(payload);
    } else if (type == kTransactionManager) {
      HandleTransactionManager(payload);
    } else {
      reply_.Message(
          4002, 16,
          "The incoming tabular data stream protocol stream is incorrect.");
      reply_.Done(kDone, kDoneError, 0, 0);
      channel_.EndMessage();
    }
  }
}

void Session::Serve() {
  Log("connected from %s", peer_);
  std::string reason;
  try {
    Loop();
  } catch (const ChannelClosed& e) {
    Log("connection ended: %s", e.what());
  } catch (const std::exception& e) {
    reason = std::string("error: ") + e.what();
  } catch (...) {
    reason = "error: unknown exception";
  }
  if (!reason.empty()) Log("%s", reason);
  EndRequest(Outcome::kAbandoned);
  RecordClose(reason.empty() ? close_reason_ : reason);
  channel_.Close();
  Log("closed");
}

}  // namespace

void ServeConnection(int fd, int64_t conn_id, const std::string& peer,
                     const SessionOptions& options) {
  Session session(fd, conn_id, peer, options);
  session.Serve();
}

}  // namespace venuedb
