#include "live_datagrams.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace rondel {
namespace tools {

namespace {

std::string LocalClock(time_t seconds, const char* format) {
  struct tm local;
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

bool IsFailureText(const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  for (const char* word :
       {"error", "fail", "refused", "can not", "cannot", "no return"}) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

void LiveDatagrams::Add(const Datagram& datagram) {
  char milliseconds[24];
  std::snprintf(milliseconds, sizeof milliseconds, ".%03ld",
                datagram.received.tv_nsec / 1000000);
  Entry entry{0,
              LocalClock(datagram.received.tv_sec, "%H:%M:%S") + milliseconds,
              datagram.sender, ShownText(datagram.text, Terminal::kUtf8),
              IsFailureText(datagram.text)};
  const int64_t minute = datagram.received.tv_sec / 60;
  std::lock_guard<std::mutex> lock(mutex_);
  entry.seq = next_++;
  entries_.push_back(std::move(entry));
  if (entries_.size() > kKept) entries_.pop_front();
  Count& count = per_minute_[minute];
  ++count.datagrams;
  if (entries_.back().failure) ++count.failures;
  // A clock set back leaves later minutes behind; the span bounds them too.
  while (per_minute_.size() > static_cast<size_t>(kMinutes) ||
         per_minute_.begin()->first <= minute - kMinutes) {
    per_minute_.erase(per_minute_.begin());
  }
}

nlohmann::json LiveDatagrams::Json(uint64_t after, int64_t now) const {
  using nlohmann::json;
  json datagrams = json::array();
  json minutes = json::array();
  const int64_t last = now / 60;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    if (e.seq <= after) continue;
    datagrams.push_back({{"seq", e.seq},
                         {"time", e.time},
                         {"sender", e.sender},
                         {"text", e.shown},
                         {"failure", e.failure}});
  }
  for (int64_t minute = last - kMinutes + 1; minute <= last; ++minute) {
    const auto found = per_minute_.find(minute);
    const Count count = found == per_minute_.end() ? Count{} : found->second;
    minutes.push_back({{"start", LocalClock(minute * 60, "%H:%M")},
                       {"datagrams", count.datagrams},
                       {"failures", count.failures}});
  }
  return {{"next", next_ - 1}, {"datagrams", datagrams}, {"minutes", minutes}};
}

}  // namespace tools
}  // namespace rondel
