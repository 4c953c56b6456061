// records_bench: AddLog and GetAuthorization, each against a bare DB-Library
// program making the same exchange (login, the call with the same parameters,
// the harvest of the return parameters, close) in the same run. Rounds of the
// two alternate, so that a noisy neighbour hits both; the report is the ratio
// of their median times per call. Then AddLog from eight threads at once
// against one thread: the lock serialises the exchanges, so the ratio of calls
// per second shows what the lock costs beyond that.
#include <sqldb.h>  // DB-Library with the SQLINT4 and SQLVARCHAR names
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bare_client.h"
#include "child_process.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "rondel.h"

namespace {

constexpr int kRounds = 15;
constexpr int kCallsPerRound = 40;
constexpr int kThreads = 8;
constexpr int kCallsPerThread = 1000;
constexpr char kRoom[] = "10.30.0.1";
constexpr DBINT kMedia = 8;

std::string g_server;

DBPROCESS* Open() { return rondel::bench::OpenLikeTheLibrary(g_server); }

BYTE* Bytes(const void* value) {
  return reinterpret_cast<BYTE*>(const_cast<void*>(value));
}

// One procedure with the room, the media, the integer outputs and the error
// text, then the harvest by name; true when "@error_code" came back 0.
bool BareExchange(const char* procedure, bool with_tradelog) {
  DBPROCESS* c = Open();
  if (c == nullptr) return false;
  DBINT media = kMedia, tradelog = 0, code = -1;
  char scratch[256] = "";
  char text[201] = "";
  bool ok = dbrpcinit(c, const_cast<char*>(procedure), 0) == SUCCEED &&
            dbrpcparam(c, const_cast<char*>("@ipaddress"), 0, SQLVARCHAR, -1,
                       static_cast<DBINT>(std::strlen(kRoom)),
                       Bytes(kRoom)) == SUCCEED &&
            dbrpcparam(c, const_cast<char*>("@media_id"), 0, SQLINT4, -1, -1,
                       Bytes(&media)) == SUCCEED &&
            (!with_tradelog ||
             dbrpcparam(c, const_cast<char*>("@tradelog_id"), DBRPCRETURN,
                        SQLINT4, -1, -1, Bytes(&tradelog)) == SUCCEED) &&
            dbrpcparam(c, const_cast<char*>("@error_code"), DBRPCRETURN,
                       SQLINT4, -1, -1, Bytes(&code)) == SUCCEED &&
            dbrpcparam(c, const_cast<char*>("@error_string"), DBRPCRETURN,
                       SQLVARCHAR, 200, 0, Bytes(scratch)) == SUCCEED &&
            dbrpcsend(c) == SUCCEED && dbsqlok(c) == SUCCEED;
  bool code_zero = false;
  for (int i = 1; ok && i <= dbnumrets(c); ++i) {
    const char* name = dbretname(c, i);
    const int length = dbretlen(c, i);
    const BYTE* data = dbretdata(c, i);
    if (name == nullptr) continue;
    if (std::strcmp(name, "@tradelog_id") == 0 && length == 4) {
      std::memcpy(&tradelog, data, 4);
    } else if (std::strcmp(name, "@error_code") == 0) {
      if (length == 4) std::memcpy(&code, data, 4);
      code_zero = code == 0;
    } else if (std::strcmp(name, "@error_string") == 0) {
      const size_t n = std::min<size_t>(length > 0 ? length : 0, 200);
      if (n > 0) std::memcpy(text, data, n);
      text[n] = '\0';
    }
  }
  dbclose(c);
  return ok && code_zero;
}

bool BareAddLog() { return BareExchange("sp_addlog", true); }
bool BareAuthorization() { return BareExchange("sp_getauthorization", false); }

bool LibraryAddLog() {
  int tradelog = 0, code = -1;
  char text[201];
  return AddLog(kRoom, kMedia, &tradelog, &code, text, nullptr) == 1;
}

bool LibraryAuthorization() {
  int code = -1;
  char text[201];
  return GetAuthorization(kRoom, kMedia, &code, text, nullptr) == 1 &&
         code == 0;
}

template <typename Call>
double Round(Call call) {
  return rondel::bench::TimedRound(kCallsPerRound, call);
}

// Library against bare, alternating rounds; false when a call failed.
template <typename Library, typename Bare>
bool Compare(const char* label, Library library_call, Bare bare_call) {
  std::vector<double> library, bare;
  for (int round = 0; round < kRounds; ++round) {
    const double l = Round(library_call);
    const double b = Round(bare_call);
    if (l < 0 || b < 0) {
      std::fprintf(stderr, "records_bench: %s failed in round %d\n", label,
                   round);
      return false;
    }
    library.push_back(l);
    bare.push_back(b);
  }
  const double l = rondel::bench::Median(library),
               b = rondel::bench::Median(bare);
  std::printf(
      "%-18s library %8.1f us  bare %8.1f us  ratio %6.3f "
      "(target <= 1.05)\n",
      label, l / 1000, b / 1000, l / b);
  return true;
}

// AddLog calls per second with `threads` host threads making
// kCallsPerThread calls each; -1 when a call failed.
double AddLogRate(int threads) {
  std::atomic<bool> failed{false};
  std::vector<std::thread> workers;
  const auto start = std::chrono::steady_clock::now();
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        if (!LibraryAddLog()) failed = true;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  return failed ? -1 : threads * kCallsPerThread / elapsed.count();
}

}  // namespace

int main() {
  const std::string state = RONDEL_BENCH_STATE_DIR "/records";
  mkdir(RONDEL_BENCH_STATE_DIR, 0755);
  mkdir(state.c_str(), 0755);
  const std::string database = state + "/venue.db";
  std::remove(database.c_str());
  if (!rondel::bench::RunChild({RONDEL_VENUEDB_PATH, "init", "--db", database},
                               {}, state)
           .exited_zero) {
    std::fprintf(stderr, "records_bench: venuedb init failed\n");
    return 1;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(database.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db,
                   "INSERT INTO medias(media_id, media_name, media_code) "
                   "VALUES(8, 'bench', '20008')",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "records_bench: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_close(db);
  rondel::bench::VenueServer server;
  if (!server.Start(RONDEL_VENUEDB_PATH, database, state + "/venuedb")) {
    std::fprintf(stderr, "records_bench: venuedb did not start\n");
    return 1;
  }
  g_server = "127.0.0.1:" + std::to_string(server.port());

  // The library as start-up leaves it: settings pointing at the server.
  setenv("RONDEL_DIAG_TARGET", "127.0.0.1:9", 1);
  setenv("RONDEL_SNAPSHOT_DIR", state.c_str(), 1);
  const std::string settings = state + "/Korvane.ini";
  std::ofstream(settings) << "[MainServer]\nDataBaseServerIp=127.0.0.1\n"
                          << "DataBaseServerPort=" << server.port() << "\n";
  if (!rondel::StartDbLibrary()) return 1;
  dberrhandle(rondel::bench::CancelOnError);
  rondel::ReadStartupSettings(settings.c_str());

  if (!Compare("AddLog", LibraryAddLog, BareAddLog) ||
      !Compare("GetAuthorization", LibraryAuthorization, BareAuthorization)) {
    return 1;
  }
  const double one = AddLogRate(1);
  const double eight = AddLogRate(kThreads);
  if (one < 0 || eight < 0) {
    std::fprintf(stderr, "records_bench: an AddLog failed\n");
    return 1;
  }
  std::printf("AddLog, 1 thread  x %d calls  %9.0f calls/s\n", kCallsPerThread,
              one);
  std::printf("AddLog, %d threads x %d calls  %9.0f calls/s  ratio %6.3f\n",
              kThreads, kCallsPerThread, eight, eight / one);
  return 0;
}
