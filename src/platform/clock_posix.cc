#include <time.h>

#include "platform/clock_system.h"

namespace rondel {
namespace platform {

uint32_t SystemTickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps as the 32-bit tick count does
}

}  // namespace platform
}  // namespace rondel
