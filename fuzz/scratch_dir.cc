#include "scratch_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "fuzz_target.h"

namespace rondel {
namespace fuzz {

namespace {

std::string* scratch = nullptr;

void RemoveScratch() {
  if (scratch == nullptr) return;
  if (DIR* dir = opendir(scratch->c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((*scratch + name).c_str());
    }
    closedir(dir);
  }
  rmdir(scratch->c_str());
}

std::string MakeScratch() {
  std::string base = "/dev/shm";
  if (access(base.c_str(), W_OK) != 0) {
    const char* tmp = getenv("TMPDIR");
    base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  }
  std::string pattern = base + "/rondel-fuzz-XXXXXX";
  FUZZ_CHECK(mkdtemp(&pattern[0]) != nullptr);
  return pattern + "/";
}

}  // namespace

const std::string& ScratchDirectory() {
  if (scratch == nullptr) {
    scratch = new std::string(MakeScratch());
    atexit(RemoveScratch);
  }
  return *scratch;
}

void WriteScratchFile(const std::string& file_name, const void* data,
                      size_t size) {
  const std::string path = ScratchDirectory() + file_name;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = write(fd, bytes, size);
    FUZZ_CHECK(written > 0);
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  close(fd);
}

void RemoveScratchFile(const std::string& file_name) {
  unlink((ScratchDirectory() + file_name).c_str());
}

}  // namespace fuzz
}  // namespace rondel
