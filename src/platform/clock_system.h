// The system's tick count, one implementation per platform (clock_posix.cc,
// clock_windows.cc); clock.cc puts the tests' fixed clock in front of it.
#ifndef RONDEL_PLATFORM_CLOCK_SYSTEM_H_
#define RONDEL_PLATFORM_CLOCK_SYSTEM_H_

#include <cstdint>

namespace rondel {
namespace platform {

// Milliseconds since system boot, wrapping at 2^32.
uint32_t SystemTickCount();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_CLOCK_SYSTEM_H_
