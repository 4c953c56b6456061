// Test hooks of the clocks: fixed values instead of the system's, so that tests
// can predict every random draw seeded from them. Not for production code.
#ifndef RONDEL_PLATFORM_CLOCK_TEST_HOOKS_H_
#define RONDEL_PLATFORM_CLOCK_TEST_HOOKS_H_

#include <cstdint>

namespace rondel {
namespace platform {

// From now on TickCount() answers `tick` and CalendarSeconds() `seconds`, for
// every thread, until ClearClockOverride().
void OverrideClock(uint32_t tick, int64_t seconds);
void ClearClockOverride();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_CLOCK_TEST_HOOKS_H_
