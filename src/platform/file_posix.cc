#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "platform/file.h"
#include "platform/file_test_hooks.h"
#include "platform/syscall.h"

namespace rondel {
namespace platform {

namespace {

// Set by tests to have owner changes refused, as they are for a writer
// without privilege (tests run as root, which is never refused).
std::atomic<bool> g_refuse_owner_changes{false};

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = sys::Open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

void RefuseOwnerChanges(bool refuse) { g_refuse_owner_changes.store(refuse); }

File::~File() { Close(); }

bool File::valid() const { return fd_ >= 0; }

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
  return File(OpenRetrying(path, O_RDONLY));
}

File File::CreateForWrite(const std::string& path) {
  return File(OpenRetrying(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
}

File File::CreateNewForWrite(const std::string& path) {
  return File(OpenRetrying(path, O_WRONLY | O_CREAT | O_EXCL, 0644));
}

File File::OpenExistingForWrite(const std::string& path) {
  return File(OpenRetrying(path, O_WRONLY));
}

File File::OpenForAppend(const std::string& path) {
  return File(OpenRetrying(path, O_WRONLY | O_CREAT | O_APPEND, 0644));
}

size_t File::ReadAt(unsigned long long offset, void* data, size_t length) {
  if (fd_ < 0) return 0;
  char* at = static_cast<char*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t got = sys::PRead(fd_, at + done, length - done,
                             static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) errno = 0;  // the end of the file, not an error
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
    ssize_t got = sys::Read(fd_, at + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) errno = 0;  // the end of the file, not an error
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
    ssize_t put = sys::Write(fd_, at + done, length - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  return done;
}

bool File::Sync() { return fd_ >= 0 && sys::Fsync(fd_) == 0; }

void File::StartSync() {
  if (fd_ >= 0) (void)sys::SyncFileRange(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool File::Truncate(unsigned long long length) {
  if (fd_ < 0) return false;
  int rc;
  do {
    rc = sys::Ftruncate(fd_, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool File::ChangeOwner(uid_t owner, gid_t group) {
  if (fd_ < 0) return false;
  if (g_refuse_owner_changes.load()) {
    errno = EPERM;
    return false;
  }
  return sys::Fchown(fd_, owner, group) == 0;
}

bool File::ChangeMode(mode_t mode) {
  return fd_ >= 0 && sys::Fchmod(fd_, mode) == 0;
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
  return sys::Stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return sys::Rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
  return sys::Unlink(path.c_str()) == 0;
}

bool LinkFile(const std::string& existing, const std::string& new_name) {
  return sys::Link(existing.c_str(), new_name.c_str()) == 0;
}

bool SyncDirectory(const std::string& path) {
  const int fd = OpenRetrying(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool synced = sys::Fsync(fd) == 0;
  const int error_number = errno;
  close(fd);
  errno = error_number;
  return synced;
}

int ExchangePaths(const std::string& a, const std::string& b) {
  return sys::Renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(),
                        RENAME_EXCHANGE) == 0
             ? 0
             : errno;
}

bool ExchangeUnsupported(int error_number) {
  return error_number == EINVAL || error_number == ENOSYS ||
         error_number == EOPNOTSUPP || error_number == ENOTSUP ||
         error_number == EXDEV;
}

bool RemoveDirectory(const std::string& path) {
  return sys::Rmdir(path.c_str()) == 0;
}

bool ListDirectory(const std::string& path,
                   std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(path.c_str()),
                                                closedir);
  if (directory == nullptr) return false;
  std::string prefix = path;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  while (const dirent* entry = readdir(directory.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    if (sys::Lstat((prefix + name).c_str(), &info) != 0) return false;
    entries->push_back({name, S_ISREG(info.st_mode)});
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat info_a, info_b;
  return sys::Stat(a.c_str(), &info_a) == 0 &&
         sys::Stat(b.c_str(), &info_b) == 0 && info_a.st_dev == info_b.st_dev &&
         info_a.st_ino == info_b.st_ino;
}

bool SameDevice(const std::string& a, const std::string& b) {
  struct stat info_a, info_b;
  return sys::Stat(a.c_str(), &info_a) == 0 &&
         sys::Stat(b.c_str(), &info_b) == 0 && info_a.st_dev == info_b.st_dev;
}

unsigned long LinkCount(const std::string& path) {
  struct stat info;
  return sys::Stat(path.c_str(), &info) == 0 ? info.st_nlink : 0;
}

std::string ResolvedPath(const std::string& path) {
  std::unique_ptr<char, void (*)(void*)> resolved(
      realpath(path.c_str(), nullptr), std::free);
  return resolved == nullptr ? std::string() : std::string(resolved.get());
}

}  // namespace platform
}  // namespace rondel
