// bench_write_snapshots: a second baseline for the database start-up, the cost
// of saving the catalogue safely. Reads the nine snapshot files of SOURCE (not
// timed), then writes each into TARGET as a start-up saves it when it must
// survive a crash: a temporary file, written with plain writes, synced, renamed
// over the old one; then the directory synced. Prints "elapsed_ns" and "bytes".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "process_stats.h"

namespace {

constexpr const char* kFiles[] = {
    "TABLE_RECORDS.tbl", "Rooms.tbl",       "Medias.tbl",
    "FILE_SERVERS.tbl",  "AllSequence.tbl", "MonthSequence.tbl",
    "WeekSequence.tbl",  "NewSequence.tbl", "UserSequence.tbl"};

bool WriteSynced(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  return ok && rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_write_snapshots SOURCE TARGET\n");
    return 2;
  }
  const std::string source = std::string(argv[1]) + "/";
  const std::string target = std::string(argv[2]) + "/";
  mkdir(target.c_str(), 0755);
  std::vector<std::string> contents;
  long long bytes = 0;
  for (const char* name : kFiles) {
    std::ifstream in(source + name, std::ios::binary);
    contents.emplace_back(std::istreambuf_iterator<char>(in),
                          std::istreambuf_iterator<char>());
    bytes += static_cast<long long>(contents.back().size());
  }
  int64_t begin = rondel::bench::NowNanoseconds();
  for (size_t i = 0; i < contents.size(); ++i) {
    if (!WriteSynced(target + kFiles[i], contents[i])) {
      std::fprintf(stderr, "cannot write %s%s\n", target.c_str(), kFiles[i]);
      return 1;
    }
  }
  int directory = open(target.c_str(), O_RDONLY | O_DIRECTORY);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
  int64_t end = rondel::bench::NowNanoseconds();
  std::printf("elapsed_ns %lld\n", static_cast<long long>(end - begin));
  std::printf("bytes %lld\n", bytes);
  return 0;
}
