// bench_read_snapshots: the baseline of the offline start-up. Reads the nine
// snapshot files of DIRECTORY into memory with plain open/read/close, one
// buffer per file, and prints "elapsed_ns" and "bytes".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "process_stats.h"

namespace {

constexpr const char* kFiles[] = {
    "TABLE_RECORDS.tbl", "Rooms.tbl",       "Medias.tbl",
    "FILE_SERVERS.tbl",  "AllSequence.tbl", "MonthSequence.tbl",
    "WeekSequence.tbl",  "NewSequence.tbl", "UserSequence.tbl"};

// Reads the whole file; -1 when it cannot be read. The buffers are kept until
// the end so the pages stay touched, as the library's tables do.
long long ReadWhole(const std::string& path, std::unique_ptr<char[]>* buffer) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    close(fd);
    return -1;
  }
  size_t size = static_cast<size_t>(info.st_size);
  buffer->reset(new char[size + 1]);
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, buffer->get() + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size ? static_cast<long long>(size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_read_snapshots DIRECTORY\n");
    return 2;
  }
  std::string directory = std::string(argv[1]) + "/";
  std::unique_ptr<char[]> buffers[9];
  long long bytes = 0;
  int64_t begin = rondel::bench::NowNanoseconds();
  for (int i = 0; i < 9; ++i) {
    long long n = ReadWhole(directory + kFiles[i], &buffers[i]);
    if (n < 0) {
      std::fprintf(stderr, "cannot read %s%s\n", directory.c_str(), kFiles[i]);
      return 1;
    }
    bytes += n;
  }
  int64_t end = rondel::bench::NowNanoseconds();
  std::printf("elapsed_ns %lld\n", static_cast<long long>(end - begin));
  std::printf("bytes %lld\n", bytes);
  return 0;
}
