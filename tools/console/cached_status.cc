#include "cached_status.h"

#include <chrono>
#include <sstream>

#include "status_render.h"

namespace rondel {
namespace tools {

namespace {

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::shared_ptr<const CachedStatus::Snapshot> CachedStatus::Get() {
  auto fresh = [this]() -> std::shared_ptr<const Snapshot> {
    std::lock_guard<std::mutex> lock(mutex_);
    if (last_ != nullptr &&
        MonotonicMs() - last_monotonic_ms_ < interval_seconds_ * 1000) {
      return last_;
    }
    return nullptr;
  };
  if (auto snapshot = fresh()) return snapshot;
  std::lock_guard<std::mutex> gathering(gather_mutex_);
  // Another page may have gathered while this one waited.
  if (auto snapshot = fresh()) return snapshot;

  auto next = std::make_shared<Snapshot>();
  next->status = GatherStatus(sources_);
  std::ostringstream json;
  PrintStatusJson(next->status, json);
  next->json = json.str();

  std::lock_guard<std::mutex> lock(mutex_);
  if (last_ == nullptr) {
    next->since = next->status.now;
  } else if (last_->status.verdict != next->status.verdict) {
    next->since = next->status.now;
    next->since_change = true;
  } else {
    next->since = last_->since;
    next->since_change = last_->since_change;
  }
  next->last_success = next->status.database.logged_in ? next->status.now
                       : last_ != nullptr              ? last_->last_success
                                                       : 0;
  last_ = next;
  last_monotonic_ms_ = MonotonicMs();
  ++gatherings_;
  return last_;
}

int64_t CachedStatus::gatherings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return gatherings_;
}

}  // namespace tools
}  // namespace rondel
