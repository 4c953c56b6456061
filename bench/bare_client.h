// What the same-run benchmarks of single exchanges share: a bare DB-Library
// connection opened exactly as the library opens its own, and rounds of calls
// timed so that library and bare program alternate and their medians compare.
#ifndef RONDEL_BENCH_BARE_CLIENT_H_
#define RONDEL_BENCH_BARE_CLIENT_H_

#include <sqldb.h>  // DB-Library with the SQLINT4 and SQLVARCHAR names

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace rondel {
namespace bench {

// Keeps every DB-Library error to a failed call; never ends the process.
inline int CancelOnError(DBPROCESS*, int, int, int, char*, char*) {
  return INT_CANCEL;
}

// Login as "sa" to "karaok" on `server` ("host:port"), as the library does:
// application "db", TDS 7.4, GB18030, 180-second time-outs.
inline DBPROCESS* OpenLikeTheLibrary(const std::string& server) {
  LOGINREC* login = dblogin();
  if (login == nullptr) return nullptr;
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "");
  DBSETLAPP(login, "db");
  DBSETLVERSION(login, DBVERSION_74);
  DBSETLCHARSET(login, "GB18030");
  dbsetlogintime(180);
  dbsettime(180);
  DBPROCESS* connection = dbopen(login, server.c_str());
  dbloginfree(login);
  if (connection != nullptr && dbuse(connection, "karaok") != SUCCEED) {
    dbclose(connection);
    return nullptr;
  }
  return connection;
}

// Nanoseconds per call over `calls` calls, or -1 when a call failed.
template <typename Call>
double TimedRound(int calls, Call call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    if (!call()) return -1;
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / calls;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace bench
}  // namespace rondel

#endif  // RONDEL_BENCH_BARE_CLIENT_H_
