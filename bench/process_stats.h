// Small measurements shared by the benchmark programs.
#ifndef RONDEL_BENCH_PROCESS_STATS_H_
#define RONDEL_BENCH_PROCESS_STATS_H_

#include <cstdint>

namespace rondel {
namespace bench {

// Monotonic time in nanoseconds.
int64_t NowNanoseconds();

// A field of /proc/self/status in kilobytes ("VmRSS", "VmHWM"), or -1 when
// absent.
int64_t StatusKilobytes(const char* field);

}  // namespace bench
}  // namespace rondel

#endif  // RONDEL_BENCH_PROCESS_STATS_H_
