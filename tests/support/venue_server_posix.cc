// The venue server run by the test itself: venuedb as a child process, the
// database file opened directly.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sqlite_handles.h"
#include "venue_server.h"

namespace rondel::testing {

namespace {

// Runs venuedb with args and its output going to log_path; returns its exit
// status.
int RunTool(const std::vector<std::string>& args, const std::string& log_path) {
  pid_t pid = fork();
  if (pid == 0) {
    int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VENUEDB_PATH));
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VENUEDB_PATH, argv.data());
    _exit(127);
  }
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

venuedb::DbHandle OpenFile(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  venuedb::DbHandle owned(db);
  if (rc != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path << ": "
                  << (db ? sqlite3_errmsg(db) : "");
    return nullptr;
  }
  sqlite3_busy_timeout(db, 20000);
  // venuedb keeps its journal tables in a file of their own beside the
  // database; attached, they answer to their plain names.
  const std::string journal = path + ".journal";
  venuedb::Statement attach =
      venuedb::Prepare(db, "ATTACH DATABASE ? AS journal");
  if (!attach ||
      sqlite3_bind_text(attach.get(), 1, journal.c_str(), -1,
                        SQLITE_TRANSIENT) != SQLITE_OK ||
      sqlite3_step(attach.get()) != SQLITE_DONE) {
    ADD_FAILURE() << "cannot attach " << journal << ": " << sqlite3_errmsg(db);
  }
  attach.reset();
  return owned;
}

}  // namespace

VenueServer::VenueServer(std::vector<std::string> seed_args,
                         ServeSettings settings)
    : settings_(std::move(settings)) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/venuedb-test-XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  folder_ = pattern;
  db_path_ = folder_ + "/venue.db";
  // venue_control names the Windows test's venue first.
  venue_ = TestVenue();
  if (seed_args.size() >= 2 && seed_args[0] == "--venue") {
    venue_ = seed_args[1];
    seed_args.erase(seed_args.begin(), seed_args.begin() + 2);
  }
  std::vector<std::string> args;
  if (seed_args.empty()) {
    args = {"init", "--db", db_path_};
  } else {
    args = {"seed", "--db", db_path_};
    args.insert(args.end(), seed_args.begin(), seed_args.end());
  }
  if (venue_ != "gbk") args.insert(args.end(), {"--venue", venue_});
  std::string log = folder_ + "/venuedb-setup.log";
  int status = RunTool(args, log);
  if (status != 0) {
    ADD_FAILURE() << "venuedb " << args[0] << " failed (" << status
                  << "): " << ReadFile(log);
    return;
  }
  Start();
}

VenueServer::~VenueServer() {
  Stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void VenueServer::Start(int port) {
  if (link_ > 0 || db_path_.empty()) return;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::string log = folder_ + "/venuedb.log";
  const std::string listen = "127.0.0.1:" + std::to_string(port);
  std::vector<std::string> args = {VENUEDB_PATH, "serve",    "--db",
                                   db_path_,     "--listen", listen};
  args.insert(args.end(), settings_.options.begin(), settings_.options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  bool unprivileged = false;
  for (const auto& [resource, value] : settings_.limits)
    unprivileged |= resource == RLIMIT_NPROC && geteuid() == 0;
  if (unprivileged) {
    std::vector<std::string> paths = {folder_};
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(folder_)) {
      paths.push_back(entry.path());
    }
    for (const std::string& path : paths) {
      if (chown(path.c_str(), kUnprivilegedUid, kUnprivilegedUid) != 0)
        ADD_FAILURE() << "cannot give " << path << " away";
    }
  }
  pid_t pid = fork();
  if (pid == 0) {
    // The server goes with the test: a test that crashes before its
    // destructor runs must not leave a server behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out[1], 1);
    int err = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) dup2(err, 2);
    if (unprivileged &&
        (setgroups(0, nullptr) != 0 || setgid(kUnprivilegedUid) != 0 ||
         setuid(kUnprivilegedUid) != 0)) {
      _exit(126);
    }
    for (const auto& [resource, value] : settings_.limits) {
      const rlimit limit = {value, value};
      if (setrlimit(resource, &limit) != 0) _exit(126);
    }
    execv(VENUEDB_PATH, argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    ADD_FAILURE() << "fork failed";
    return;
  }
  link_ = pid;
  // Read the "listening 127.0.0.1:PORT" line, with a generous bound for a
  // loaded machine.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (line.find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd pfd = {out[0], POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) continue;
    char buffer[128];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  size_t colon = line.rfind(':');
  if (line.rfind("listening ", 0) != 0 || colon == std::string::npos) {
    ADD_FAILURE() << "venuedb did not start: '" << line << "' "
                  << ReadFile(log);
    Stop();
    return;
  }
  port_ = std::atoi(line.c_str() + colon + 1);
}

int VenueServer::Stop() {
  if (link_ <= 0) return -1;
  const pid_t pid = static_cast<pid_t>(link_);
  // A frozen server cannot act on SIGTERM.
  kill(pid, frozen_ ? SIGKILL : SIGTERM);
  frozen_ = false;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  link_ = -1;
  port_ = 0;
  return WIFEXITED(status)     ? WEXITSTATUS(status)
         : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                               : -1;
}

int VenueServer::pid() const {
  return link_ > 0 ? static_cast<int>(link_) : -1;
}

void VenueServer::Freeze() {
  if (link_ <= 0) return;
  kill(static_cast<pid_t>(link_), SIGSTOP);
  frozen_ = true;
}

void VenueServer::Exec(const std::string& sql) {
  auto db = OpenFile(db_path_);
  if (!db) return;
  char* message = nullptr;
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message) !=
      SQLITE_OK) {
    ADD_FAILURE() << "SQL failed: " << sql << ": " << (message ? message : "");
    sqlite3_free(message);
  }
}

std::vector<Row> VenueServer::Query(const std::string& sql) {
  std::vector<Row> rows;
  auto db = OpenFile(db_path_);
  if (!db) return rows;
  sqlite3_stmt* stmt = nullptr;
  int prepared = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr);
  venuedb::Statement owned(stmt);
  if (prepared != SQLITE_OK) {
    ADD_FAILURE() << "query failed: " << sql << ": "
                  << sqlite3_errmsg(db.get());
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    Row row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL:
          row.push_back(std::nullopt);
          break;
        case SQLITE_BLOB: {
          const char* data =
              static_cast<const char*>(sqlite3_column_blob(stmt, i));
          row.push_back(
              std::string(data ? data : "",
                          static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
          break;
        }
        default: {
          const char* text =
              reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
          row.push_back(std::string(
              text, static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
          break;
        }
      }
    }
    rows.push_back(row);
  }
  if (rc != SQLITE_DONE)
    ADD_FAILURE() << "query failed: " << sql << ": "
                  << sqlite3_errmsg(db.get());
  return rows;
}

}  // namespace rondel::testing
