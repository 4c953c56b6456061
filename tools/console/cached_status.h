// The venue's status for every page at once: gathered on demand, at most once
// per interval however many pages ask, since each gathering logs into the
// database. Also remembers since when the verdict holds, as far as the
// console has seen it.
//
//   CachedStatus cache(sources, 3);
//   std::shared_ptr<const CachedStatus::Snapshot> now = cache.Get();
//   Send(now->json);
//
// Thread-safe. A caller arriving while another gathers waits for that
// gathering and shares its result.
#ifndef RONDEL_TOOLS_CONSOLE_CACHED_STATUS_H_
#define RONDEL_TOOLS_CONSOLE_CACHED_STATUS_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "status_model.h"

namespace rondel {
namespace tools {

class CachedStatus {
 public:
  struct Snapshot {
    VenueStatus status;
    std::string json;  // exactly what `rondel status --json` prints for it
    // When the console first saw the current verdict, seconds since 1970;
    // `since_change` false when it has held since the console's first look.
    int64_t since = 0;
    bool since_change = false;
    // The last gathering whose login was accepted; 0: none yet.
    int64_t last_success = 0;
  };

  CachedStatus(StatusSources sources, int interval_seconds)
      : sources_(std::move(sources)), interval_seconds_(interval_seconds) {}

  // The last gathering when it is younger than the interval, else a new one.
  std::shared_ptr<const Snapshot> Get();

  // How many times the status was gathered.
  int64_t gatherings() const;

 private:
  const StatusSources sources_;
  const int interval_seconds_;
  std::mutex gather_mutex_;   // held while gathering: one at a time
  mutable std::mutex mutex_;  // guards the members below; never held while
                              // gathering
  std::shared_ptr<const Snapshot> last_;
  int64_t last_monotonic_ms_ = 0;
  int64_t gatherings_ = 0;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_CONSOLE_CACHED_STATUS_H_
