// Clocks: a millisecond tick count and calendar seconds.
#ifndef RONDEL_PLATFORM_CLOCK_H_
#define RONDEL_PLATFORM_CLOCK_H_

#include <cstdint>

namespace rondel {
namespace platform {

// Milliseconds since an arbitrary start (system boot), wrapping at 2^32.
uint32_t TickCount();
// Seconds since 1970-01-01 UTC.
int64_t CalendarSeconds();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_CLOCK_H_
