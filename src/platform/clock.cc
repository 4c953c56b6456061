#include "platform/clock.h"

#include <atomic>
#include <ctime>

#include "platform/clock_system.h"
#include "platform/clock_test_hooks.h"

namespace rondel {
namespace platform {

namespace {

// A test's fixed clock; read with relaxed loads on every call (no lock, no
// allocation), so the production path costs one load more.
std::atomic<bool> g_overridden{false};
std::atomic<uint32_t> g_tick{0};
std::atomic<int64_t> g_seconds{0};

}  // namespace

uint32_t TickCount() {
  if (g_overridden.load(std::memory_order_acquire)) {
    return g_tick.load(std::memory_order_relaxed);
  }
  return SystemTickCount();
}

int64_t CalendarSeconds() {
  if (g_overridden.load(std::memory_order_acquire)) {
    return g_seconds.load(std::memory_order_relaxed);
  }
  return static_cast<int64_t>(std::time(nullptr));
}

void OverrideClock(uint32_t tick, int64_t seconds) {
  g_tick.store(tick, std::memory_order_relaxed);
  g_seconds.store(seconds, std::memory_order_relaxed);
  g_overridden.store(true, std::memory_order_release);
}

void ClearClockOverride() {
  g_overridden.store(false, std::memory_order_release);
}

}  // namespace platform
}  // namespace rondel
