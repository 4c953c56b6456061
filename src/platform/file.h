// Plain files and directories for the snapshot store, the settings file and
// the play outbox. On POSIX every system call goes through the table of
// syscall.h, so tests can fail any of them or watch what reaches the disk;
// errno is left as the failing call set it. On Windows (file_windows.cc) the
// Win32 calls are made directly and a failure sets errno from the system's
// error (windows_error.h); renames write through, names need no directory
// flush, and paths cannot be exchanged (the per-file way is taken).
#ifndef RONDEL_PLATFORM_FILE_H_
#define RONDEL_PLATFORM_FILE_H_

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <cstddef>
#include <string>
#include <vector>

namespace rondel {
namespace platform {

// A move-only open file; closed on destruction.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  static File OpenForRead(
      const std::string& path);  // invalid when it cannot be opened
  static File CreateForWrite(
      const std::string& path);  // truncates; invalid on failure
  // Creates a file that must not exist yet: a name that turns out to be taken
  // (a second name of a file still in use, say) is never truncated.
  static File CreateNewForWrite(const std::string& path);
  // Opens an existing file for writing from the start, neither creating nor
  // truncating it; invalid when it is absent or may not be written.
  static File OpenExistingForWrite(const std::string& path);
  // Opens (or creates) for appending: every write goes to the file's end as it
  // is at that moment, also after a Truncate.
  static File OpenForAppend(const std::string& path);

  bool valid() const;
  // Both return the bytes actually moved (short on end of file or error); they
  // retry interrupted and partial transfers, so a short count means the rest
  // cannot be moved. After a short read errno is 0 at the end of the file, else
  // the read's error.
  size_t Read(void* data, size_t length);
  size_t Write(const void* data, size_t length);
  // As Read, from `offset` and without moving the file position.
  size_t ReadAt(unsigned long long offset, void* data, size_t length);
  bool Sync();  // flushes to the disk
  // Starts writing the file's dirty pages to the disk without waiting; a later
  // Sync then has little left to wait for. Best effort: nothing is reported.
  void StartSync();
  bool Truncate(unsigned long long length);  // sets the file's length
#ifndef _WIN32
  // Give the open file an owner and group, or permission bits; false when the
  // system refuses (an owner other than the writer needs privilege). POSIX
  // only: Windows files have neither.
  bool ChangeOwner(uid_t owner, gid_t group);
  bool ChangeMode(mode_t mode);
#endif
  void Close();

 private:
#ifdef _WIN32
  // A Windows HANDLE; -1 (INVALID_HANDLE_VALUE) when closed. An append file
  // writes every block at the file's end.
  File(long long handle, bool append) : handle_(handle), append_(append) {}
  long long handle_ = -1;
  bool append_ = false;
#else
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
#endif
};

bool FileReadable(const std::string& path);
bool RenameFile(const std::string& from,
                const std::string& to);  // replaces `to`
bool RemoveFile(const std::string& path);
bool LinkFile(const std::string& existing,
              const std::string& new_name);  // a second name
// Flushes the directory's names to the disk. On Windows true when `path` is
// a directory: there a name is made durable by the write-through rename and
// by flushing the file it names, and no directory handle is flushed.
bool SyncDirectory(const std::string& path);
// Exchanges two existing names (directories or files) in one step: a crash
// leaves either both as they were or both exchanged. 0 when done, else the
// errno: EINVAL, ENOSYS, EOPNOTSUPP or EXDEV when the file system cannot
// (always ENOSYS on Windows).
int ExchangePaths(const std::string& a, const std::string& b);
// True when the errno of ExchangePaths says the file system cannot exchange,
// as opposed to a failure of this one call.
bool ExchangeUnsupported(int error_number);
bool RemoveDirectory(const std::string& path);  // an empty one
// One name in a directory, and whether it is a regular file (not followed
// when it is a symbolic link).
struct DirectoryEntry {
  std::string name;
  bool regular_file;
};
// The names in `path` ("." and ".." left out), in no particular order; false
// when the directory cannot be read or a name cannot be examined.
bool ListDirectory(const std::string& path,
                   std::vector<DirectoryEntry>* entries);
// True when both paths exist and lie on one file system.
bool SameDevice(const std::string& a, const std::string& b);
// `path` with every symbolic link resolved; empty when it cannot be. On
// Windows the final path in the system's own form: a drive and names parted
// by backslashes, without the long-path prefix.
std::string ResolvedPath(const std::string& path);
// True when both names exist and are one file (the same inode).
bool SameFile(const std::string& a, const std::string& b);
// The names `path` has (its link count); 0 when it does not exist.
unsigned long LinkCount(const std::string& path);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_FILE_H_
