// Client-library start and stop, the error handler, and the opening of one
// connection.
//
// Every DB-Library error goes through DbErrorHandler, which writes the
// library's text to the module log and always answers INT_CANCEL: this client
// library ends the whole process on INT_EXIT, while the venue server relies on
// a failed call simply returning (a dead server must lead to the offline start,
// not to an exit). The server's own error messages while a connection opens
// (a refused login, a database it cannot open) go through DbMessageHandler,
// which only logs them with the server's host:port.
//
// Whether the database answers is followed here, where every connection opens:
// the first opening that fails after one that worked logs "stopped
// answering", the first that works after a failure "answers again".
#include "frame/session.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/db_library.h"
#include "frame/server_charset.h"
#include "frame/settings.h"
#include "platform/message_log.h"
#include "platform/no_destructor.h"

namespace rondel {

namespace {

constexpr int kTimeoutSeconds = 180;

// The login and query time-out: 180 seconds, or $RONDEL_DB_TIMEOUT (whole
// seconds, 1..180) for test labs that stall a server on purpose and cannot
// wait three minutes per case. Anything else in the variable is ignored.
int TimeoutSeconds() {
  const char* text = std::getenv("RONDEL_DB_TIMEOUT");
  if (text == nullptr || *text == '\0') return kTimeoutSeconds;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds < 1 || seconds > kTimeoutSeconds) {
    return kTimeoutSeconds;
  }
  return static_cast<int>(seconds);
}
constexpr char kApplicationName[] = "db";

std::atomic<bool> g_started{false};

// Whether the last opening reached the database; kUnknown until one was tried
// since the client library started.
enum DatabaseState : int { kUnknown, kAnswering, kSilent };
std::atomic<int> g_database_state{kUnknown};

// The "host:port" a connection is being opened to on this thread, for the
// server's messages; empty outside an opening. A plain array: a thread_local
// with a destructor would bring the runtime's thread-exit hooks into the
// Windows DLL, each thread then registering a destructor there.
thread_local char t_opening_target[48];
thread_local int t_opening_messages = 0;

// Copies a settings buffer into a terminated local copy, so that one opening
// uses one consistent value even while LoadDBOptions rewrites the buffer.
template <size_t N>
void CopySetting(char (&out)[N], const char* value) {
  size_t n = strnlen(value, N - 1);
  std::memcpy(out, value, n);
  out[n] = '\0';
}

int DbErrorHandler(DBPROCESS* /*connection*/, int /*severity*/,
                   int /*error_number*/, int /*os_error*/, char* error_text,
                   char* /*os_error_text*/) {
  // One line per error: line breaks inside the library's text would split the
  // entry.
  std::string line = error_text != nullptr ? error_text : "";
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  ModuleLog().AddLog(line.c_str());
  return INT_CANCEL;
}

// Server messages of class 11 and above that arrive while a connection opens,
// one line each ("127.0.0.1:1433 says 18456 (class 14, state 1): Login failed
// for user 'sa'."). Informational ones (a changed database context) come at
// every opening and are left out, as are errors of procedures, which their
// callers answer for.
int DbMessageHandler(DBPROCESS* /*connection*/, DBINT message_number, int state,
                     int severity, char* message_text, char* /*server_name*/,
                     char* /*procedure*/, int /*line*/) {
  if (t_opening_target[0] == '\0' || severity <= 10) return 0;
  ++t_opening_messages;
  std::string line = std::string(t_opening_target) + " says " +
                     std::to_string(message_number) + " (class " +
                     std::to_string(severity) + ", state " +
                     std::to_string(state) +
                     "): " + (message_text != nullptr ? message_text : "");
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  ModuleLog().AddLog(line.c_str());
  return 0;
}

// Notes the outcome of one opening, logging a change.
void NoteDatabaseAnswered(bool answered, const std::string& database) {
  const int previous =
      g_database_state.exchange(answered ? kAnswering : kSilent);
  if (answered && previous == kSilent) {
    ModuleLog().AddLog(("database " + database + " answers again").c_str(),
                       platform::LogLevel::kNotice);
  } else if (!answered && previous == kAnswering) {
    ModuleLog().AddLog(("database " + database + " stopped answering").c_str(),
                       platform::LogLevel::kWarning);
  }
}

// Marks the connection being opened on this thread, so its server messages
// are logged with `target`; cleared on every path.
class OpeningTarget {
 public:
  explicit OpeningTarget(const std::string& target) {
    const size_t length = std::min(target.size(), sizeof t_opening_target - 1);
    std::memcpy(t_opening_target, target.data(), length);
    t_opening_target[length] = '\0';
    t_opening_messages = 0;
  }
  ~OpeningTarget() { t_opening_target[0] = '\0'; }
  OpeningTarget(const OpeningTarget&) = delete;
  OpeningTarget& operator=(const OpeningTarget&) = delete;
};

}  // namespace

platform::Lock& CatalogueLock() {
  // Never destroyed: exchanges may still run while static destructors do.
  static platform::NoDestructor<platform::Lock> lock;
  return *lock.get();
}

platform::MessageLog& ModuleLog() {
  static platform::NoDestructor<platform::MessageLog> log;
  return *log.get();
}

bool StartDbLibrary() {
  if (g_started.load()) return true;
  if (dbinit() == FAIL) return false;
  dberrhandle(DbErrorHandler);
  dbmsghandle(DbMessageHandler);
  g_database_state.store(kUnknown);
  g_started.store(true);
  return true;
}

void StopDbLibrary() {
  // dbexit frees every open connection: an exchange still running on another
  // thread would go on with freed memory. Waiting for the lock lets it finish;
  // exchanges that start afterwards find the library stopped and take their
  // no-connection path.
  assert(!CatalogueLock().HeldByThisThread());
  platform::LockHolder hold(CatalogueLock());
  if (!g_started.exchange(false)) return;
  dbexit();
}

bool DbLibraryStarted() { return g_started.load(); }

namespace {

// dbopen and dbuse with the login as it stands; null when either fails (each
// failure logged, the database noted as not answering). OpeningTarget names
// the server to its messages for the time of the opening.
DBPROCESS* OpenConnection(LOGINREC* login, const char* server,
                          const char* database, const std::string& target,
                          const std::string& named, platform::MessageLog* log) {
  OpeningTarget opening(target);
  DBPROCESS* connection =
      server[0] != '\0' ? dbopen(login, target.c_str()) : nullptr;
  if (connection == nullptr) {
    std::string line =
        std::string("login database server \"") + server + "\" error";
    log->AddLog(line.c_str());
    // The server's refusal is in its own messages above; without one it was
    // never reached.
    if (server[0] != '\0' && t_opening_messages == 0) {
      log->AddLog(("connecting to " + target + " failed").c_str());
    }
    NoteDatabaseAnswered(false, named);
    return nullptr;
  }
  if (dbuse(connection, database) != SUCCEED) {
    std::string line = std::string("use database \"") + database + "\" error";
    log->AddLog(line.c_str());
    dbclose(connection);
    NoteDatabaseAnswered(false, named);
    return nullptr;
  }
  return connection;
}

}  // namespace

Session& Session::operator=(Session&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void Session::Close() {
  if (handle_ == nullptr) return;
  dbclose(static_cast<DBPROCESS*>(handle_));
  handle_ = nullptr;
}

Session Session::Open() { return OpenWithin(TimeoutSeconds()); }

Session Session::OpenWithin(int timeout_seconds) {
  assert(CatalogueLock().HeldByThisThread());
  assert(timeout_seconds >= 1);
  platform::MessageLog log;
  if (!DbLibraryStarted()) {
    // Without the client library there is no login record to make.
    log.AddLog("dblogin() error");
    return Session();
  }
  LOGINREC* login = dblogin();
  if (login == nullptr) {
    log.AddLog("dblogin() error");
    return Session();
  }

  const Settings& settings = CurrentSettings();
  char server[sizeof settings.database_server_ip];
  char database[sizeof settings.database_name];
  char user[sizeof settings.user_name];
  char password[sizeof settings.password];
  char charset[sizeof settings.client_charset];
  CopySetting(server, settings.database_server_ip);
  CopySetting(database, settings.database_name);
  CopySetting(user, settings.user_name);
  CopySetting(password, settings.password);
  CopySetting(charset, settings.client_charset);

  DBSETLUSER(login, user);
  DBSETLPWD(login, password);
  DBSETLAPP(login, kApplicationName);
  // Pinned: with version "auto" a slow pre-login answer makes the library retry
  // with an older protocol and hang.
  DBSETLVERSION(login, DBVERSION_74);
  const int timeout = std::min(std::max(timeout_seconds, 1), TimeoutSeconds());
  dbsetlogintime(timeout);
  dbsettime(timeout);

  // An empty name would make the library pick a server from its environment.
  const std::string target =
      DatabaseServerTarget(server, settings.database_server_port);
  const std::string named = target + " \"" + database + "\"";
  // Same character set on both sides: the database's bytes pass unconverted.
  // ClientCharset=server names the set learned from this database, and the
  // first connection to it asks (server_charset.h).
  const bool follow_server = FollowsServerCharset(charset);
  std::string login_charset = charset;
  if (follow_server) {
    login_charset = LearnedServerCharset(named);
    if (login_charset.empty()) login_charset = "GB18030";
  }
  DBPROCESS* connection = nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!login_charset.empty()) {
      DBSETLCHARSET(login, login_charset.c_str());
    }
    connection = OpenConnection(login, server, database, target, named, &log);
    if (connection == nullptr) {
      dbloginfree(login);
      return Session();
    }
    if (!follow_server || !LearnedServerCharset(named).empty()) break;
    const std::string learned = LearnServerCharset(connection, named);
    if (learned.empty()) {
      // The connection ended while asking: this opening fails as a dead
      // server's would, and the next one asks again.
      log.AddLog(("connection to " + target + " lost while opening").c_str());
      dbclose(connection);
      dbloginfree(login);
      NoteDatabaseAnswered(false, named);
      return Session();
    }
    if (learned == login_charset) break;
    // Logged in with another set than the database's: again with its own.
    dbclose(connection);
    connection = nullptr;
    login_charset = learned;
  }
  dbloginfree(login);
  NoteDatabaseAnswered(true, named);
  Session session;
  session.handle_ = connection;
  return session;
}

}  // namespace rondel
