#include "session.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "batch.h"
#include "channel.h"
#include "charset.h"
#include "faults.h"
#include "journal.h"
#include "login.h"
#include "procedure_runner.h"
#include "reply.h"
#include "rpc_request.h"
#include "store.h"
#include "tokens.h"

namespace venuedb {

namespace {

constexpr uint32_t kTds74 = 0x74000004;

std::mutex log_mutex;

class Session : public BatchHost {
 public:
  Session(int fd, const std::string& peer, const SessionOptions& options,
          sqlite3* db)
      : options_(options),
        peer_(peer),
        db_(db),
        channel_(fd, NextSpid()),
        reply_(&channel_, &charset_),
        journal_(db) {}

  void Serve();
  bool UseDatabase(const std::string& name, std::string* canonical,
                   std::string* previous) override;

 private:
  static uint16_t NextSpid() {
    static std::atomic<uint16_t> next{51};
    return next++;
  }
  void Log(const char* format, const std::string& a = "",
           const std::string& b = "");
  bool HandleLogin(const std::string& payload);
  void HandleBatch(const std::string& payload);
  void HandleRpc(const std::string& payload);
  void HandleAttention();
  // Records the attention in the journal and acknowledges it.
  void AcknowledgeAttention();
  [[noreturn]] void FaultClose();
  // Writes the close row and closed_us once.
  void RecordClose(const std::string& reason);
  bool KnownDatabase(const std::string& name, std::string* canonical);

  SessionOptions options_;
  std::string peer_;
  sqlite3* db_;
  Charset charset_;
  Channel channel_;
  Reply reply_;
  Journal journal_;
  int64_t conn_id_ = 0;
  bool logged_in_ = false;
  bool close_recorded_ = false;
  std::string user_;
  std::string database_;
};

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
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT name FROM vdb_databases WHERE name=?1",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()),
                    SQLITE_TRANSIENT);
  bool found = sqlite3_step(stmt) == SQLITE_ROW;
  if (found)
    *canonical = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  return found;
}

bool Session::UseDatabase(const std::string& name, std::string* canonical,
                          std::string* previous) {
  bool ok = KnownDatabase(name, canonical);
  journal_.Record(conn_id_, "use", user_, name, ok);
  Log("use %s: %s", name, ok ? "ok" : "unknown database");
  if (!ok) return false;
  *previous = database_;
  database_ = *canonical;
  journal_.SetDatabase(conn_id_, database_);
  return true;
}

bool Session::HandleLogin(const std::string& payload) {
  LoginRequest login;
  if (!ParseLogin7(payload, &login)) {
    Log("malformed login");
    return false;
  }
  user_ = login.user;
  bool tds72 = login.tds_version >= 0x72000000;
  reply_.set_tds72(tds72);
  uint32_t version = login.tds_version;
  if (version < 0x71000000) version = 0x71000001;
  if (version > kTds74) version = kTds74;
  size_t packet_size = login.packet_size;
  if (packet_size == 0) packet_size = 4096;
  if (packet_size < 512) packet_size = 512;
  if (packet_size > 32767) packet_size = 32767;

  // The password is compared as sent; the user name in any case.
  bool ok = false;
  std::string default_database = "master";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(
          db_,
          "SELECT password, default_database FROM vdb_logins WHERE name=?1", -1,
          &stmt, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, login.user.data(),
                      static_cast<int>(login.user.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      const char* password =
          reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      const char* dflt =
          reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
      ok = login.password == (password ? password : "");
      if (dflt && *dflt) default_database = dflt;
    }
    sqlite3_finalize(stmt);
  }
  if (ok && FindFault(db_, "refuse_login", login.user)) ok = false;
  std::string requested =
      login.database.empty() ? default_database : login.database;
  std::string canonical;
  bool database_ok = ok && KnownDatabase(requested, &canonical);
  bool accepted = ok && database_ok;
  if (accepted) database_ = canonical;

  journal_.SetLogin(conn_id_, login.user, login.password, login.app, login.host,
                    accepted ? database_ : requested,
                    TdsVersionName(login.tds_version),
                    static_cast<int64_t>(packet_size), !accepted);
  journal_.Record(conn_id_, "login", login.user, login.database, accepted);
  Log("login %s: %s", login.user, accepted ? "accepted" : "refused");

  if (!accepted) {
    if (ok) {
      reply_.Message(4060, 11,
                     "Cannot open database \"" + requested +
                         "\" requested by the login. The login failed.");
    }
    reply_.Message(18456, 14, "Login failed for user '" + login.user + "'.");
    reply_.Done(kDone, kDoneError, 0, 0);
    channel_.EndMessage();
    return false;
  }
  ByteWriter w;
  PutEnvChangeText(&w, 1, charset_.GbToUtf16(database_),
                   AsciiToUtf16("master"));
  PutEnvChangeCollation(&w);
  PutEnvChangeText(&w, 2, AsciiToUtf16("us_english"), std::string());
  PutLoginAck(&w, version, "Microsoft SQL Server");
  PutEnvChangeText(&w, 4, AsciiToUtf16(std::to_string(packet_size)),
                   AsciiToUtf16("4096"));
  reply_.Write(&w);
  reply_.Done(kDone, kDoneFinal, 0, 0);
  channel_.EndMessage();
  channel_.set_packet_size(packet_size);
  logged_in_ = true;
  return true;
}

void Session::AcknowledgeAttention() {
  journal_.Record(conn_id_, "attention", user_, "", true);
  Log("attention");
  reply_.Done(kDone, kDoneAttention, 0, 0);
  channel_.clear_attention();
}

void Session::FaultClose() {
  // Recorded before the socket goes, so a client that sees the cut finds the
  // rows.
  RecordClose("close_after_rows");
  Log("closing after rows (fault)");
  channel_.FlushPartial();
  channel_.Close();
  throw ChannelClosed("fault close");
}

void Session::RecordClose(const std::string& reason) {
  if (close_recorded_) return;
  close_recorded_ = true;
  journal_.Record(conn_id_, "close", user_, reason, true);
  journal_.CloseConnection(conn_id_);
}

void Session::HandleBatch(const std::string& payload) {
  size_t start = 0;
  if (reply_.tds72() && payload.size() >= 4) {
    start = static_cast<uint8_t>(payload[0]) |
            (static_cast<uint8_t>(payload[1]) << 8) |
            (static_cast<uint8_t>(payload[2]) << 16) |
            (static_cast<size_t>(static_cast<uint8_t>(payload[3])) << 24);
    if (start > payload.size()) start = payload.size();
  }
  std::string sql;
  charset_.Utf16ToGb(payload.substr(start), &sql);
  Log("batch %s", sql.substr(0, 200));
  BatchOutcome out = RunBatch(db_, &reply_, this, sql);
  if (!out.only_use)
    journal_.Record(conn_id_, "batch", user_, sql, out.ok && !out.attention);
  if (out.fault_close) FaultClose();
  if (out.attention || channel_.attention()) AcknowledgeAttention();
  channel_.EndMessage();
}

void Session::HandleRpc(const std::string& payload) {
  RpcRequest request;
  std::string error;
  std::vector<JournalParam> params;
  if (!ParseRpc(payload, reply_.tds72(), &charset_, &request, &error)) {
    journal_.Record(conn_id_, "rpc", user_, request.name, false);
    reply_.Message(8009, 16, "The incoming RPC request is malformed: " + error);
    reply_.Done(kDone, kDoneError, 0, 0);
    channel_.EndMessage();
    return;
  }
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
    journal_.Record(conn_id_, "rpc", user_, std::to_string(request.proc_id),
                    false, params);
    reply_.Message(2812, 16,
                   "Could not find stored procedure with id " +
                       std::to_string(request.proc_id) + ".");
    reply_.Done(kDone, kDoneError, 0, 0);
    channel_.EndMessage();
    return;
  }
  ProcedureCall call;
  call.name = request.name;
  call.params = std::move(request.params);
  call.close_after_rows =
      FindFault(db_, "close_after_rows", call.name).value_or(-1);
  ProcedureOutcome out = RunProcedure(db_, &reply_, call);
  journal_.Record(conn_id_, "rpc", user_, call.name, out.ok, params);
  if (out.fault_close) FaultClose();
  if (out.attention || channel_.attention()) AcknowledgeAttention();
  channel_.EndMessage();
}

void Session::HandleAttention() {
  AcknowledgeAttention();
  channel_.EndMessage();
}

void Session::Serve() {
  conn_id_ = journal_.OpenConnection(peer_);
  Log("connected from %s", peer_);
  try {
    uint8_t type = 0;
    std::string payload;
    while (channel_.ReadMessage(&type, &payload)) {
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
        } else {
          break;
        }
        continue;
      }
      if (type == kSqlBatch) {
        HandleBatch(payload);
      } else if (type == kRpc) {
        HandleRpc(payload);
      } else {
        reply_.Message(
            4002, 16,
            "The incoming tabular data stream protocol stream is incorrect.");
        reply_.Done(kDone, kDoneError, 0, 0);
        channel_.EndMessage();
      }
    }
  } catch (const ChannelClosed& e) {
    Log("connection ended: %s", e.what());
  }
  channel_.Close();
  RecordClose("");
  Log("closed");
}

}  // namespace

void ServeConnection(int fd, const std::string& peer,
                     const SessionOptions& options) {
  std::string error;
  sqlite3* db = OpenDatabase(options.db_path, &error);
  if (!db) {
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
    Channel channel(fd, 1);
    return;
  }
  {
    Session session(fd, peer, options, db);
    session.Serve();
  }
  sqlite3_close_v2(db);
}

}  // namespace venuedb
