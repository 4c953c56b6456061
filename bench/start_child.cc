// bench_start_child: one start-up of the library, as a host process makes it,
// timed from inside. Prints "key value" lines for the benchmark runner:
//   elapsed_ns  the time InitialDatabase took
//   vmrss_kb    resident memory of this process after start-up
//   found       1 when GetMediaInfo finds the media id given as the first
//   argument
// The settings file, snapshot directory and diagnostic target come from the
// environment.
#include <cstdio>
#include <cstdlib>

#include "process_stats.h"
#include "rondel.h"

int main(int argc, char** argv) {
  int probe_id = argc > 1 ? std::atoi(argv[1]) : 1;
  int64_t begin = rondel::bench::NowNanoseconds();
  InitialDatabase();
  int64_t end = rondel::bench::NowNanoseconds();
  int media_class = 0;
  int found = GetMediaInfo(probe_id, nullptr, nullptr, &media_class, nullptr,
                           nullptr, nullptr, nullptr, nullptr, nullptr);
  std::printf("elapsed_ns %lld\n", static_cast<long long>(end - begin));
  std::printf("vmrss_kb %lld\n",
              static_cast<long long>(rondel::bench::StatusKilobytes("VmRSS")));
  std::printf("found %d\n", found);
  ExitDatabase();
  return 0;
}
