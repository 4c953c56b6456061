// venuedb_bench: how fast venuedb answers a bare FreeTDS client.
//
//   1. The media procedure of 100,000 media x 3 files (one server group): every
//   row read
//      with dbnextrow, against the baseline of stepping the same query on
//      SQLite in-process.
//   2. Login + database selection + a small procedure with an output + close,
//   against the
//      baselines of the same call on an open connection and of a bare TCP
//      connect.
//
// Run inside a private network namespace:
//   unshare -n -- bash -c 'ip link set lo up;
//   build/<dir>/venuedb/bench/venuedb_bench'
// Options: --medias N (default 100000), --rounds N (default 200).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sybdb.h>
#include <sybfront.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sqlite_handles.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

int library_errors = 0;

int CancelOnError(DBPROCESS*, int, int, int, char*, char*) {
  ++library_errors;
  return INT_CANCEL;
}

int IgnoreMessage(DBPROCESS*, DBINT, int, int, char*, char*, char*, int) {
  return 0;
}

bool RunTool(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VENUEDB_PATH));
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VENUEDB_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts venuedb on a free port; returns its pid and sets *port.
pid_t StartServer(const std::string& db, int* port) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(VENUEDB_PATH, VENUEDB_PATH, "serve", "--db", db.c_str(), "--listen",
          "127.0.0.1:0", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char line[128] = {0};
  size_t used = 0;
  while (used < sizeof line - 1 && !std::strchr(line, '\n')) {
    ssize_t n = read(out[0], line + used, sizeof line - 1 - used);
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  close(out[0]);
  const char* colon = std::strrchr(line, ':');
  *port = colon ? std::atoi(colon + 1) : 0;
  return pid;
}

DBPROCESS* Open(const std::string& server) {
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "");
  DBSETLAPP(login, "venuedb_bench");
  dbsetlversion(login, DBVERSION_74);
  DBSETLCHARSET(login, "GB18030");  // the venue's texts are code page 936 bytes
  DBPROCESS* p = dbopen(login, server.c_str());
  dbloginfree(login);
  if (p && dbuse(p, "karaok") != SUCCEED) {
    dbclose(p);
    return nullptr;
  }
  return p;
}

// The media procedure read the way a client reads it: every column bound, every
// row fetched.
long FetchMedia(DBPROCESS* p) {
  dbrpcinit(p, const_cast<char*>("sp_getmediainfobyvideoserver"), 0);
  DBINT group = 1;
  dbrpcparam(p, const_cast<char*>("@i_ServerGroupid"), 0, SYBINT4, -1, -1,
             reinterpret_cast<BYTE*>(&group));
  if (dbrpcsend(p) != SUCCEED || dbsqlok(p) != SUCCEED) return -1;
  long rows = 0;
  while (dbresults(p) == SUCCEED) {
    int columns = dbnumcols(p);
    std::vector<DBINT> numbers(static_cast<size_t>(columns));
    std::vector<std::vector<char>> texts(static_cast<size_t>(columns),
                                         std::vector<char>(256));
    for (int c = 1; c <= columns; ++c) {
      size_t i = static_cast<size_t>(c - 1);
      if (dbcoltype(p, c) == SYBINT4) {
        dbbind(p, c, INTBIND, 0, reinterpret_cast<BYTE*>(&numbers[i]));
      } else {
        dbbind(p, c, NTBSTRINGBIND, 256,
               reinterpret_cast<BYTE*>(texts[i].data()));
      }
    }
    STATUS s;
    while ((s = dbnextrow(p)) != NO_MORE_ROWS && s != FAIL) ++rows;
  }
  return rows;
}

// The same rows stepped on SQLite directly: the procedure's own body, every
// column read.
long StepMediaOnSqlite(const std::string& db_path) {
  sqlite3* opened = nullptr;
  sqlite3_open_v2(db_path.c_str(), &opened, SQLITE_OPEN_READONLY, nullptr);
  const venuedb::DbHandle db(opened);
  std::string sql;
  if (venuedb::Statement body =
          venuedb::Prepare(db.get(),
                           "SELECT body FROM vdb_procedures WHERE "
                           "name='sp_getmediainfobyvideoserver'")) {
    if (sqlite3_step(body.get()) == SQLITE_ROW)
      sql = reinterpret_cast<const char*>(sqlite3_column_text(body.get(), 0));
  }
  long rows = -1;
  if (venuedb::Statement stmt = venuedb::Prepare(db.get(), sql.c_str())) {
    sqlite3_bind_int(
        stmt.get(),
        sqlite3_bind_parameter_index(stmt.get(), "@i_ServerGroupid"), 1);
    rows = 0;
    size_t bytes = 0;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(stmt.get()); ++c) {
        sqlite3_column_text(stmt.get(), c);
        bytes += static_cast<size_t>(sqlite3_column_bytes(stmt.get(), c));
      }
      ++rows;
    }
    if (bytes == 0) rows = -1;
  }
  return rows;
}

bool SmallCall(DBPROCESS* p) {
  dbrpcinit(p, const_cast<char*>("spm_getadsfilepath"), 0);
  DBINT sequence = 7, media_id = 0;
  dbrpcparam(p, const_cast<char*>("@sequence"), 0, SYBINT4, -1, -1,
             reinterpret_cast<BYTE*>(&sequence));
  dbrpcparam(p, const_cast<char*>("@media_id"), DBRPCRETURN, SYBINT4, -1, -1,
             reinterpret_cast<BYTE*>(&media_id));
  if (dbrpcsend(p) != SUCCEED || dbsqlok(p) != SUCCEED) return false;
  while (dbresults(p) == SUCCEED) {
    while (dbnextrow(p) != NO_MORE_ROWS) {
    }
  }
  return dbnumrets(p) == 1;
}

// The transport floor: connect, one pre-login packet and its answer, close.
bool PreloginRoundTrip(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Header (type 0x12, end of message, length 14), then an options table with
  // one VERSION entry and its terminator; the server answers any pre-login the
  // same way.
  const unsigned char prelogin[] = {0x12, 0x01, 0x00, 0x0E, 0x00, 0x00, 0x01,
                                    0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0xFF};
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            write(fd, prelogin, sizeof prelogin) ==
                static_cast<ssize_t>(sizeof prelogin);
  unsigned char header[8];
  size_t got = 0;
  while (ok && got < sizeof header) {
    ssize_t n = read(fd, header + got, sizeof header - got);
    if (n <= 0) ok = false;
    got += n > 0 ? static_cast<size_t>(n) : 0;
  }
  close(fd);
  return ok && header[0] == 0x04;
}

}  // namespace

int main(int argc, char** argv) {
  int medias = 100000, rounds = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--medias") == 0) medias = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
  }
  char folder_pattern[] = "/tmp/venuedb-bench-XXXXXX";
  if (!mkdtemp(folder_pattern)) return 1;
  std::string folder = folder_pattern;
  std::string db = folder + "/venue.db";
  auto seed_start = Clock::now();
  if (!RunTool({"seed", "--db", db, "--medias", std::to_string(medias),
                "--files-per-media", "3", "--groups", "1", "--file-servers",
                "1"})) {
    std::fprintf(stderr, "venuedb seed failed\n");
    return 1;
  }
  std::printf("seeded %d media x 3 files in %.2f s\n", medias,
              Seconds(Clock::now() - seed_start));
  int port = 0;
  pid_t server = StartServer(db, &port);
  if (server <= 0 || port == 0) {
    std::fprintf(stderr, "venuedb did not start\n");
    return 1;
  }
  dbinit();
  dberrhandle(CancelOnError);
  dbmsghandle(IgnoreMessage);
  std::string address = "127.0.0.1:" + std::to_string(port);
  int status = 0;

  // 1. The long result.
  double best_sqlite = 1e9, best_wire = 1e9;
  long sqlite_rows = 0, wire_rows = 0;
  DBPROCESS* p = Open(address);
  for (int run = 0; run < 3 && p; ++run) {
    auto start = Clock::now();
    sqlite_rows = StepMediaOnSqlite(db);
    best_sqlite = std::min(best_sqlite, Seconds(Clock::now() - start));
    start = Clock::now();
    wire_rows = FetchMedia(p);
    best_wire = std::min(best_wire, Seconds(Clock::now() - start));
  }
  if (p) dbclose(p);
  std::printf(
      "media procedure: %ld rows in %.3f s to DB-Library (%.0f rows/s); "
      "SQLite alone %ld rows in %.3f s; ratio %.1fx\n",
      wire_rows, best_wire, wire_rows / best_wire, sqlite_rows, best_sqlite,
      best_wire / best_sqlite);

  // 2. Round trips.
  auto start = Clock::now();
  int tcp_ok = 0;
  for (int i = 0; i < rounds; ++i) tcp_ok += PreloginRoundTrip(port);
  double tcp = Seconds(Clock::now() - start) / rounds;
  p = Open(address);
  start = Clock::now();
  int call_ok = 0;
  for (int i = 0; i < rounds && p; ++i) call_ok += SmallCall(p);
  double call = Seconds(Clock::now() - start) / rounds;
  if (p) dbclose(p);
  start = Clock::now();
  int full_ok = 0;
  Clock::duration opening{}, calling{}, closing{};
  for (int i = 0; i < rounds; ++i) {
    auto t0 = Clock::now();
    DBPROCESS* q = Open(address);
    auto t1 = Clock::now();
    if (!q) continue;
    full_ok += SmallCall(q);
    auto t2 = Clock::now();
    dbclose(q);
    auto t3 = Clock::now();
    opening += t1 - t0;
    calling += t2 - t1;
    closing += t3 - t2;
  }
  double full = Seconds(Clock::now() - start) / rounds;
  std::printf("  of which login + use %.3f ms, call %.3f ms, close %.3f ms\n",
              Seconds(opening) * 1e3 / rounds, Seconds(calling) * 1e3 / rounds,
              Seconds(closing) * 1e3 / rounds);
  std::printf(
      "login + use + small procedure + close: %.3f ms (%d/%d ok); call on an "
      "open connection %.3f ms (%d ok); connect + pre-login %.3f ms (%d ok); "
      "ratios full/call %.1fx, full/pre-login %.1fx\n",
      full * 1e3, full_ok, rounds, call * 1e3, call_ok, tcp * 1e3, tcp_ok,
      full / call, full / tcp);

  if (library_errors > 0)
    std::printf("DB-Library errors: %d\n", library_errors);
  kill(server, SIGTERM);
  waitpid(server, &status, 0);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  bool ok = library_errors == 0 && wire_rows == sqlite_rows && wire_rows > 0 &&
            full_ok == rounds;
  return ok ? 0 : 1;
}
