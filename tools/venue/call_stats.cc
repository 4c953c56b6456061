#include "call_stats.h"

#include <algorithm>

namespace rondel {
namespace venue {

namespace {

double Percentile(std::vector<float> values, double fraction) {
  if (values.empty()) return 0;
  const size_t at = static_cast<size_t>(fraction * (values.size() - 1) + 0.5);
  std::nth_element(values.begin(), values.begin() + static_cast<long>(at),
                   values.end());
  return values[at];
}

}  // namespace

void CallStats::Record(const std::string& name, double milliseconds,
                       bool done) {
  std::lock_guard<std::mutex> hold(mutex_);
  Samples& s = samples_[name];
  s.milliseconds.push_back(static_cast<float>(milliseconds));
  if (!done) ++s.failures;
}

std::map<std::string, ExportFigures> CallStats::Figures() const {
  std::map<std::string, Samples> copy;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    copy = samples_;
  }
  std::map<std::string, ExportFigures> figures;
  for (const auto& [name, s] : copy) {
    ExportFigures& f = figures[name];
    f.calls = static_cast<long>(s.milliseconds.size());
    f.failures = s.failures;
    f.p50_ms = Percentile(s.milliseconds, 0.50);
    f.p99_ms = Percentile(s.milliseconds, 0.99);
  }
  return figures;
}

long CallStats::TotalCalls() const {
  std::lock_guard<std::mutex> hold(mutex_);
  long total = 0;
  for (const auto& entry : samples_) {
    total += static_cast<long>(entry.second.milliseconds.size());
  }
  return total;
}

void PlayStats::Play(const std::string& room, const std::string& server) {
  std::lock_guard<std::mutex> hold(mutex_);
  ++per_room_[room];
  ++per_server_[server];
}

std::map<std::string, long> PlayStats::PerRoom() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return per_room_;
}

std::map<std::string, long> PlayStats::PerServer() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return per_server_;
}

long PlayStats::Total() const {
  std::lock_guard<std::mutex> hold(mutex_);
  long total = 0;
  for (const auto& entry : per_room_) total += entry.second;
  return total;
}

}  // namespace venue
}  // namespace rondel
