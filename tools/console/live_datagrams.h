// The diagnostic datagrams as the console shows them: the last few hundred,
// numbered in arrival order, and how many arrived (and how many of them tell
// of a failure) in each minute of the last hour.
//
//   LiveDatagrams live;
//   live.Add(datagram);                      // the receiver's thread
//   nlohmann::json json = live.Json(after, now);  // any HTTP thread
//
// Thread-safe: every member takes the one mutex.
#ifndef RONDEL_TOOLS_CONSOLE_LIVE_DATAGRAMS_H_
#define RONDEL_TOOLS_CONSOLE_LIVE_DATAGRAMS_H_

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "monitor_format.h"

namespace rondel {
namespace tools {

// Whether a diagnostic text tells of a failure ("get ad media error", "can not
// Get Group ID", "No return status for this command.", ...): it names an
// error, a failure, a refusal or something that could not be done.
bool IsFailureText(const std::string& text);

class LiveDatagrams {
 public:
  static constexpr size_t kKept = 500;  // datagrams kept for a page's list
  static constexpr int kMinutes = 60;   // the chart's span

  void Add(const Datagram& datagram);

  // One JSON object:
  //   {"next":N,
  //    "datagrams":[{"seq":1,"time":"HH:MM:SS.mmm","sender":"a.b.c.d:p",
  //                  "text":"...","failure":false},...],
  //    "minutes":[{"start":"HH:MM","datagrams":3,"failures":1},...]}
  // "datagrams" holds those numbered above `after` still kept, oldest first;
  // "next" is how many arrived since the start, and what a page passes as
  // `after` next time (0 at first). "minutes" has kMinutes
  // entries, the oldest first, the last the minute holding `now` (seconds
  // since 1970). Texts are shown as the monitor shows them on a UTF-8
  // terminal: code page 936 converted, other bytes as \xHH.
  nlohmann::json Json(uint64_t after, int64_t now) const;

 private:
  struct Entry {
    uint64_t seq;
    std::string time;
    std::string sender;
    std::string shown;
    bool failure;
  };
  struct Count {
    int64_t datagrams = 0;
    int64_t failures = 0;
  };

  mutable std::mutex mutex_;
  uint64_t next_ = 1;                    // GUARDED_BY(mutex_)
  std::deque<Entry> entries_;            // GUARDED_BY(mutex_)
  std::map<int64_t, Count> per_minute_;  // GUARDED_BY(mutex_): by minute
                                         // since 1970, the last hour's
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_CONSOLE_LIVE_DATAGRAMS_H_
