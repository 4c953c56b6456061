// Processes the start-up benchmark runs: measured programs in fresh processes,
// and a venuedb server on a free loopback port.
#ifndef RONDEL_BENCH_CHILD_PROCESS_H_
#define RONDEL_BENCH_CHILD_PROCESS_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace rondel {
namespace bench {

// What a measured program printed: its "key value" lines, and how it ended.
struct ChildResult {
  bool exited_zero = false;
  std::string output;
  std::map<std::string, long long> values;

  // The value printed under `key`, or -1.
  long long Value(const std::string& key) const;
};

// Runs `argv` (argv[0] a path) with the environment of this process plus
// `environment`
// ("KEY=VALUE" entries, replacing same-named ones), in `directory`, and waits
// for it. Standard output is captured; standard error passes through.
ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment,
                     const std::string& directory);

// A venuedb server started with `venuedb serve --db DB --listen 127.0.0.1:0`.
// Its output goes to LOG_PREFIX.out and .err. Stop (or destruction) ends it,
// and only it.
class VenueServer {
 public:
  VenueServer() = default;
  VenueServer(const VenueServer&) = delete;
  VenueServer& operator=(const VenueServer&) = delete;
  ~VenueServer() { Stop(); }

  // Starts the server and waits (up to 60 s) for its "listening 127.0.0.1:PORT"
  // line. False, with the server stopped, when it does not come.
  bool Start(const std::string& venuedb, const std::string& database,
             const std::string& log_prefix);
  void Stop();
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace bench
}  // namespace rondel

#endif  // RONDEL_BENCH_CHILD_PROCESS_H_
