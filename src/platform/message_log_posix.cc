#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file_error.h"
#include "platform/message_log_output.h"

namespace rondel {
namespace platform {

namespace {

// One complete write or nothing more to try; O_APPEND keeps entries whole and
// in place. Returns the bytes written.
size_t WriteAll(int fd, const char* data, size_t length) {
  size_t written = 0;
  while (length > 0) {
    ssize_t put = write(fd, data, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    data += put;
    length -= static_cast<size_t>(put);
    written += static_cast<size_t>(put);
  }
  return written;
}

// Puts the system's text for errno in *reason; answers false.
bool Refused(std::string* reason) {
  *reason = ErrorText(errno);
  return false;
}

}  // namespace

LogFile::LogFile(const std::string& path)
    : handle_(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                   0644)) {}

LogFile::~LogFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool LogFile::valid() const { return handle_ >= 0; }

long long LogFile::Size() const {
  struct stat info;
  return fstat(static_cast<int>(handle_), &info) == 0 ? info.st_size : 0;
}

size_t LogFile::Append(const char* data, size_t length) {
  return WriteAll(static_cast<int>(handle_), data, length);
}

bool RenameLogFile(const std::string& from, const std::string& to,
                   std::string* reason) {
  return rename(from.c_str(), to.c_str()) == 0 || Refused(reason);
}

bool ReadLogTail(const std::string& path, size_t length, std::string* tail,
                 std::string* reason) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Refused(reason);
  struct stat info;
  bool read_whole = fstat(fd, &info) == 0;
  if (read_whole) {
    const size_t size = static_cast<size_t>(info.st_size);
    off_t at = static_cast<off_t>(size > length ? size - length : 0);
    tail->assign(size - static_cast<size_t>(at), '\0');
    size_t got = 0;
    while (read_whole && got < tail->size()) {
      ssize_t put = pread(fd, &(*tail)[got], tail->size() - got, at);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        // A file cut short meanwhile ends the tail there.
        read_whole = put == 0;
        break;
      }
      got += static_cast<size_t>(put);
      at += put;
    }
    tail->resize(got);
  }
  if (!read_whole) Refused(reason);
  close(fd);
  return read_whole;
}

bool RewriteLogFile(const std::string& path, const std::string& content,
                    std::string* reason) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return Refused(reason);
  bool rewritten =
      ftruncate(fd, 0) == 0 &&
      WriteAll(fd, content.data(), content.size()) == content.size();
  if (!rewritten) Refused(reason);
  close(fd);
  return rewritten;
}

void WriteToScreen(const char* data, size_t length) {
  (void)WriteAll(STDERR_FILENO, data, length);
}

void LocalTimeNow(std::tm* local, int* milliseconds) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, local);
  *milliseconds = static_cast<int>(now.tv_nsec / 1000000);
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

bool FileWrittenTime(const std::string& path, std::tm* local) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  const time_t written = info.st_mtime;
  return localtime_r(&written, local) != nullptr;
}

}  // namespace platform
}  // namespace rondel
