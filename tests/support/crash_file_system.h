// A file layer for crash tests that remembers what reached the disk, and at a
// simulated power cut throws away everything else (as LevelDB's
// fault-injection test and SQLite's crash test do). It sits in the platform
// layer's system-call table, so the code under test runs unchanged.
//
//   CrashFileSystem disk(scratch.path());  // all under it is durable now
//   disk.CutPowerAfter(17);                // the 17th operation is the last
//   store.SaveAllTables();                 // runs on; later calls fail (EIO)
//   disk.LoseUnsyncedData();               // the tree as a reboot finds it
//
// The rules it applies, which are what POSIX promises and no more:
//  1. A file's data is durable as of its last successful fsync; a file never
//     flushed since it was created holds nothing. Writes, truncations and
//     sync_file_range (which waits for nothing) change only what a running
//     process sees.
//  2. A name (a create, rename, exchange, link, unlink, mkdir or rmdir) is
//     durable only once the directory holding it was flushed (fsync of the
//     directory); the directory's durable names are then exactly those it
//     held at that flush, each naming the file (inode) it named then. A
//     rename between two directories needs both flushed.
//  3. Everything under the root when the layer was installed is durable.
//  4. The power cut comes right after the Nth operation (a call that can
//     change the disk: open for writing, write, ftruncate, fchown, fchmod,
//     fsync, rename, renameat2, link, unlink, mkdir, rmdir), which happens
//     in full; from then on every call of the table fails with EIO, as a
//     machine that has stopped would answer nothing.
// Owner, group and mode are not modelled (files come back 0644). The model
// takes the harshest single outcome: a real disk may keep some unflushed data
// too, which a test gets by skipping LoseUnsyncedData (the process killed,
// the machine still up).
//
// One instance at a time (the table holds plain functions); not thread-safe.
#ifndef RONDEL_TESTS_SUPPORT_CRASH_FILE_SYSTEM_H_
#define RONDEL_TESTS_SUPPORT_CRASH_FILE_SYSTEM_H_

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "platform/syscall_test_hooks.h"

namespace rondel {
namespace testing {

class CrashFileSystem {
 public:
  explicit CrashFileSystem(const std::string& root) : root_(root) {
    Instance() = this;
    root_inode_ = Remember(root_);
    platform::SyscallFunctions calls;
    calls.open = &Open;
    calls.read = &Read;
    calls.pread = &PRead;
    calls.write = &Write;
    calls.fsync = &Fsync;
    calls.sync_file_range = &SyncFileRange;
    calls.ftruncate = &Ftruncate;
    calls.fchown = &Fchown;
    calls.fchmod = &Fchmod;
    calls.stat = &Stat;
    calls.lstat = &Lstat;
    calls.rename = &Rename;
    calls.renameat2 = &Renameat2;
    calls.link = &Link;
    calls.unlink = &Unlink;
    calls.mkdir = &Mkdir;
    calls.rmdir = &Rmdir;
    platform::ReplaceSyscalls(calls);
  }
  ~CrashFileSystem() {
    platform::ResetSyscalls();
    for (const auto& held : held_) close(held.second);
    Instance() = nullptr;
  }
  CrashFileSystem(const CrashFileSystem&) = delete;
  CrashFileSystem& operator=(const CrashFileSystem&) = delete;

  // The power goes after the `nth` operation from now (0: never).
  void CutPowerAfter(long nth) {
    cut_after_ = nth;
    operations_ = 0;
  }
  bool cut() const { return dead_; }
  // Answers every directory exchange with EINVAL, as a file system without
  // RENAME_EXCHANGE does (a refused call changes nothing: no operation).
  void RefuseExchanges() { refuse_exchanges_ = true; }
  long operations() const { return operations_; }

  // Rebuilds the tree under the root from what was durable, as the machine
  // finds it after the cut, and takes the system's calls back.
  void LoseUnsyncedData() {
    platform::ResetSyscalls();
    RemoveContents(root_);
    std::map<ino_t, std::string> made;  // a file met again is a second name
    Rebuild(root_inode_, root_, &made);
  }

 private:
  static CrashFileSystem*& Instance() {
    static CrashFileSystem* instance = nullptr;
    return instance;
  }
  static const platform::SyscallFunctions& System() {
    static const platform::SyscallFunctions system = platform::SystemSyscalls();
    return system;
  }

  // Counts one operation; true when the power is already gone.
  static bool Dead() {
    if (Instance()->dead_) errno = EIO;
    return Instance()->dead_;
  }
  static void Operated() {
    CrashFileSystem& self = *Instance();
    if (++self.operations_ == self.cut_after_) self.dead_ = true;
  }

  // Holds a descriptor of every file and directory met, so that no inode
  // number is reused while the model names it.
  void Hold(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || held_.count(info.st_ino) != 0) return;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const int held = ::open(proc.c_str(), O_RDONLY | O_CLOEXEC);
    if (held >= 0) held_[info.st_ino] = held;
    if (S_ISDIR(info.st_mode)) directories_[info.st_ino];
  }
  void HoldPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    Hold(fd);
    ::close(fd);
  }

  // Rule 3: takes the tree under `path` as durable; returns its inode.
  ino_t Remember(const std::string& path) {
    HoldPath(path);
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return 0;
    if (S_ISDIR(info.st_mode)) {
      directories_[info.st_ino] = Listing(path);
      for (const auto& entry : directories_[info.st_ino]) {
        Remember(path + "/" + entry.first);
      }
    } else {
      data_[info.st_ino] = ReadAll(held_[info.st_ino]);
    }
    return info.st_ino;
  }

  static std::map<std::string, ino_t> Listing(const std::string& path) {
    std::map<std::string, ino_t> names;
    if (DIR* dir = opendir(path.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names[name] = entry->d_ino;
      }
      closedir(dir);
    }
    return names;
  }

  static std::string ReadAll(int fd) {
    std::string bytes;
    char chunk[65536];
    for (off_t at = 0;;) {
      const ssize_t got = ::pread(fd, chunk, sizeof chunk, at);
      if (got <= 0) return bytes;
      bytes.append(chunk, static_cast<size_t>(got));
      at += got;
    }
  }

  // Rules 1 and 2: what a successful fsync makes durable.
  void Flushed(int fd) {
    Hold(fd);
    struct stat info;
    if (fstat(fd, &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
      const std::string proc = "/proc/self/fd/" + std::to_string(fd);
      directories_[info.st_ino] = Listing(proc);
      // Names first met here are held (their inodes must not be reused).
      for (const auto& entry : directories_[info.st_ino]) {
        HoldPath(proc + "/" + entry.first);
      }
    } else {
      data_[info.st_ino] = ReadAll(held_[info.st_ino]);
    }
  }

  void RemoveContents(const std::string& path) {
    for (const auto& entry : Listing(path)) {
      const std::string child = path + "/" + entry.first;
      struct stat info;
      if (::lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        RemoveContents(child);
        ::rmdir(child.c_str());
      } else {
        ::unlink(child.c_str());
      }
    }
  }

  void Rebuild(ino_t directory, const std::string& path,
               std::map<ino_t, std::string>* made) {
    for (const auto& entry : directories_[directory]) {
      const std::string child = path + "/" + entry.first;
      if (directories_.count(entry.second) != 0) {
        EXPECT_EQ(::mkdir(child.c_str(), 0755), 0);
        Rebuild(entry.second, child, made);
      } else if (made->count(entry.second) != 0) {
        EXPECT_EQ(::link((*made)[entry.second].c_str(), child.c_str()), 0);
      } else {
        const std::string& bytes = data_[entry.second];  // rule 1: or nothing
        const int fd = ::open(child.c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
          EXPECT_EQ(::write(fd, bytes.data(), bytes.size()),
                    static_cast<ssize_t>(bytes.size()));
          ::close(fd);
        }
        (*made)[entry.second] = child;
      }
    }
  }

  // The table's entries while the layer is installed.
  static int Open(const char* path, int flags, mode_t mode) {
    if (Dead()) return -1;
    const int fd = System().open(path, flags, mode);
    if (fd >= 0) Instance()->Hold(fd);
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0) Operated();
    return fd;
  }
  static ssize_t Read(int fd, void* data, size_t length) {
    return Dead() ? -1 : System().read(fd, data, length);
  }
  static ssize_t PRead(int fd, void* data, size_t length, off_t offset) {
    return Dead() ? -1 : System().pread(fd, data, length, offset);
  }
  static ssize_t Write(int fd, const void* data, size_t length) {
    if (Dead()) return -1;
    const ssize_t put = System().write(fd, data, length);
    Operated();
    return put;
  }
  static int Fsync(int fd) {
    if (Dead()) return -1;
    const int rc = System().fsync(fd);
    if (rc == 0) Instance()->Flushed(fd);
    Operated();
    return rc;
  }
  static int SyncFileRange(int fd, off_t offset, off_t length,
                           unsigned int flags) {
    return Dead() ? -1 : System().sync_file_range(fd, offset, length, flags);
  }
  static int Ftruncate(int fd, off_t length) {
    if (Dead()) return -1;
    const int rc = System().ftruncate(fd, length);
    Operated();
    return rc;
  }
  static int Fchown(int fd, uid_t owner, gid_t group) {
    if (Dead()) return -1;
    const int rc = System().fchown(fd, owner, group);
    Operated();
    return rc;
  }
  static int Fchmod(int fd, mode_t mode) {
    if (Dead()) return -1;
    const int rc = System().fchmod(fd, mode);
    Operated();
    return rc;
  }
  static int Stat(const char* path, struct stat* info) {
    return Dead() ? -1 : System().stat(path, info);
  }
  static int Lstat(const char* path, struct stat* info) {
    return Dead() ? -1 : System().lstat(path, info);
  }
  static int Rename(const char* from, const char* to) {
    if (Dead()) return -1;
    const int rc = System().rename(from, to);
    Operated();
    return rc;
  }
  static int Renameat2(int from_dir, const char* from, int to_dir,
                       const char* to, unsigned int flags) {
    if (Dead()) return -1;
    if (Instance()->refuse_exchanges_ && (flags & RENAME_EXCHANGE) != 0) {
      errno = EINVAL;
      return -1;
    }
    const int rc = System().renameat2(from_dir, from, to_dir, to, flags);
    Operated();
    return rc;
  }
  static int Link(const char* existing, const char* new_name) {
    if (Dead()) return -1;
    const int rc = System().link(existing, new_name);
    Operated();
    return rc;
  }
  static int Unlink(const char* path) {
    if (Dead()) return -1;
    const int rc = System().unlink(path);
    Operated();
    return rc;
  }
  static int Mkdir(const char* path, mode_t mode) {
    if (Dead()) return -1;
    const int rc = System().mkdir(path, mode);
    if (rc == 0) Instance()->HoldPath(path);
    Operated();
    return rc;
  }
  static int Rmdir(const char* path) {
    if (Dead()) return -1;
    const int rc = System().rmdir(path);
    Operated();
    return rc;
  }

  const std::string root_;
  ino_t root_inode_ = 0;
  std::map<ino_t, int> held_;
  std::map<ino_t, std::string> data_;                          // rule 1
  std::map<ino_t, std::map<std::string, ino_t>> directories_;  // rule 2
  long cut_after_ = 0;
  long operations_ = 0;
  bool dead_ = false;
  bool refuse_exchanges_ = false;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_CRASH_FILE_SYSTEM_H_
