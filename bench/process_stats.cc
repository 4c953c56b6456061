#include "process_stats.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace rondel {
namespace bench {

int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t StatusKilobytes(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  int64_t kilobytes = -1;
  size_t field_length = std::strlen(field);
  while (std::fgets(line, sizeof(line), status) != nullptr) {
    if (std::strncmp(line, field, field_length) == 0 &&
        line[field_length] == ':') {
      long long value = -1;
      if (std::sscanf(line + field_length + 1, "%lld", &value) == 1) {
        kilobytes = value;
      }
      break;
    }
  }
  std::fclose(status);
  return kilobytes;
}

}  // namespace bench
}  // namespace rondel
