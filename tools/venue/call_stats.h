// Per-export call statistics of the venue simulator: calls, failures and
// latencies, safe to record from every host thread.
#ifndef RONDEL_TOOLS_VENUE_CALL_STATS_H_
#define RONDEL_TOOLS_VENUE_CALL_STATS_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace rondel {
namespace venue {

// What one export has done so far.
struct ExportFigures {
  long calls = 0;
  long failures = 0;  // answers that mean "not done" (0, false, -1)
  double p50_ms = 0;
  double p99_ms = 0;
};

class CallStats {
 public:
  // Times `call` (which answers true when the export did its work) and records
  // it under `name`. Returns what `call` answered.
  template <typename Call>
  bool Time(const char* name, Call call) {
    const auto start = std::chrono::steady_clock::now();
    const bool done = call();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    Record(name, std::chrono::duration<double, std::milli>(elapsed).count(),
           done);
    return done;
  }
  void Record(const std::string& name, double milliseconds, bool done);

  std::map<std::string, ExportFigures> Figures() const;
  long TotalCalls() const;

 private:
  struct Samples {
    long failures = 0;
    std::vector<float> milliseconds;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Samples> samples_;
};

// Plays counted per room and per file-server address.
class PlayStats {
 public:
  void Play(const std::string& room, const std::string& server);
  std::map<std::string, long> PerRoom() const;
  std::map<std::string, long> PerServer() const;
  long Total() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, long> per_room_;
  std::map<std::string, long> per_server_;
};

}  // namespace venue
}  // namespace rondel

#endif  // RONDEL_TOOLS_VENUE_CALL_STATS_H_
