#include <windows.h>

#include "platform/clock_system.h"

namespace rondel {
namespace platform {

// The system's own 32-bit tick count, wrapping after 49.7 days as the venue's
// hosts expect of it.
uint32_t SystemTickCount() { return static_cast<uint32_t>(GetTickCount()); }

}  // namespace platform
}  // namespace rondel
