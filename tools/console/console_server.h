// The console's HTTP side, read-only: every route answers GET and changes
// nothing.
//   /             the page (console_page.h)
//   /status.json  the status model as `rondel status --json` prints it
//   /live.json    ?after=N: since when the verdict holds, the last accepted
//                 login, the datagrams numbered above N and the chart's counts
//                 (LiveDatagrams::Json):
//                   {"since":"2026-12-08 05:40:01 UTC","since_change":false,
//                    "last_success":"..." or null,"next":N,"datagrams":[...],
//                    "minutes":[...]}
// HTTP threads are the server library's; the status and the datagrams are
// shared through their own locks.
#ifndef RONDEL_TOOLS_CONSOLE_CONSOLE_SERVER_H_
#define RONDEL_TOOLS_CONSOLE_CONSOLE_SERVER_H_

#include <memory>
#include <string>

#include "cached_status.h"
#include "live_datagrams.h"

namespace httplib {
class Server;
}

namespace rondel {
namespace tools {

class ConsoleServer {
 public:
  // `status` and `live` must outlive the server.
  ConsoleServer(CachedStatus* status, const LiveDatagrams* live);
  ~ConsoleServer();

  // Binds host:port (0: a free port); false when it cannot.
  bool Bind(const std::string& host, int port);
  int port() const { return port_; }
  // Serves until Stop() (from another thread). REQUIRES: Bind() succeeded.
  void Run();
  void Stop();

 private:
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_CONSOLE_CONSOLE_SERVER_H_
