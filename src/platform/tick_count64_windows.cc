// Windows XP has no GetTickCount64, which the thread library the DLL is built
// with (the toolchain's winpthreads, linked in) imports for its timed waits:
// a DLL importing it fails to load there. The DLL defines that import's slot
// itself, so the linker takes it instead of kernel32's: the slot calls the
// system's GetTickCount64 where it exists (Vista and later), else the 32-bit
// tick count widened across its wraps.
//
// This file is linked into rondel.dll as an object of its own (never from an
// archive), so its definition is in place before the thread library asks for
// the import.
#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

// The tick count's wraps (every 49.7 days) are counted from the calls seen: a
// process that asks less often than once a wrap loses one, which only a wait
// of that length would notice.
ULONGLONG WINAPI WidenedTickCount() {
  static std::atomic<uint64_t> last{0};
  uint64_t seen = last.load();
  for (;;) {
    const DWORD now = GetTickCount();
    uint64_t high = seen & ~uint64_t{0xFFFFFFFF};
    if (now < static_cast<DWORD>(seen)) high += uint64_t{1} << 32;
    const uint64_t value = high | now;
    if (value == seen || last.compare_exchange_weak(seen, value)) return value;
  }
}

using TickCountFunction = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI TickCount64() {
  static const TickCountFunction function = [] {
    const FARPROC system =
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64");
    return system != nullptr ? reinterpret_cast<TickCountFunction>(
                                   reinterpret_cast<void (*)()>(system))
                             : &WidenedTickCount;
  }();
  return function();
}

}  // namespace

// The import slot, under the name the thread library's objects refer to.
extern "C" {
extern TickCountFunction rondel_tick_count64_slot __asm__(
    "__imp__GetTickCount64@0");
TickCountFunction rondel_tick_count64_slot = &TickCount64;
}
