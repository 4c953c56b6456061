#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/file_test_hooks.h"

namespace rondel {
namespace platform {

namespace {

// Bytes that writes may still deliver; negative means unlimited.
std::atomic<long long> g_write_budget{-1};
// Set by tests to have owner changes refused, as they are for a writer
// without privilege (tests run as root, which is never refused).
std::atomic<bool> g_refuse_owner_changes{false};

// Takes up to `wanted` bytes from the budget; returns how many may be written.
size_t TakeBudget(size_t wanted) {
  long long budget = g_write_budget.load();
  while (budget >= 0) {
    long long granted = budget < static_cast<long long>(wanted)
                            ? budget
                            : static_cast<long long>(wanted);
    if (g_write_budget.compare_exchange_weak(budget, budget - granted)) {
      return static_cast<size_t>(granted);
    }
  }
  return wanted;
}

void ReturnBudget(size_t unused) {
  long long budget = g_write_budget.load();
  while (budget >= 0 && !g_write_budget.compare_exchange_weak(
                            budget, budget + static_cast<long long>(unused))) {
  }
}

}  // namespace

void RefuseOwnerChanges(bool refuse) { g_refuse_owner_changes.store(refuse); }

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

File File::OpenForRead(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return File(fd);
}

File File::CreateForWrite(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return File(fd);
}

File File::OpenForOverwrite(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return File(fd);
}

File File::OpenExistingForWrite(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return File(fd);
}

File File::OpenForAppend(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return File(fd);
}

size_t File::ReadAt(unsigned long long offset, void* data, size_t length) {
  if (fd_ < 0) return 0;
  char* at = static_cast<char*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t got =
        pread(fd_, at + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t File::Read(void* data, size_t length) {
  if (fd_ < 0) return 0;
  char* at = static_cast<char*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t got = read(fd_, at + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t File::Write(const void* data, size_t length) {
  if (fd_ < 0) return 0;
  const char* at = static_cast<const char*>(data);
  size_t done = 0;
  while (done < length) {
    size_t allowed = TakeBudget(length - done);
    if (allowed == 0) break;
    ssize_t put = write(fd_, at + done, allowed);
    if (put < 0 && errno == EINTR) {
      ReturnBudget(allowed);
      continue;
    }
    if (put <= 0) {
      ReturnBudget(allowed);
      break;
    }
    ReturnBudget(allowed - static_cast<size_t>(put));
    done += static_cast<size_t>(put);
  }
  return done;
}

bool File::Sync() { return fd_ >= 0 && fsync(fd_) == 0; }

void File::StartSync() {
  if (fd_ >= 0) (void)sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool File::Truncate(unsigned long long length) {
  if (fd_ < 0) return false;
  int rc;
  do {
    rc = ftruncate(fd_, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool File::ChangeOwner(uid_t owner, gid_t group) {
  if (fd_ < 0) return false;
  if (g_refuse_owner_changes.load()) {
    errno = EPERM;
    return false;
  }
  return fchown(fd_, owner, group) == 0;
}

bool File::ChangeMode(mode_t mode) {
  return fd_ >= 0 && fchmod(fd_, mode) == 0;
}

void File::Close() {
  if (fd_ >= 0) {
    // Linux releases the descriptor even when close is interrupted: never retry
    // it.
    close(fd_);
    fd_ = -1;
  }
}

bool FileReadable(const std::string& path) {
  File file = File::OpenForRead(path);
  if (!file.valid()) return false;
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool LinkFile(const std::string& existing, const std::string& new_name) {
  return link(existing.c_str(), new_name.c_str()) == 0;
}

bool SyncDirectory(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat info_a, info_b;
  return stat(a.c_str(), &info_a) == 0 && stat(b.c_str(), &info_b) == 0 &&
         info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
}

unsigned long LinkCount(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_nlink : 0;
}

void SetWriteBudget(long long bytes) {
  g_write_budget.store(bytes < 0 ? -1 : bytes);
}

}  // namespace platform
}  // namespace rondel
