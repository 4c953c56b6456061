// Plain files for the snapshot store, with failures that tests can inject.
#ifndef RONDEL_PLATFORM_FILE_H_
#define RONDEL_PLATFORM_FILE_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

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
  // Opens (or creates) for writing from the start without truncating, so an
  // existing file's disk space is written over instead of freed and allocated
  // again.
  static File OpenForOverwrite(const std::string& path);
  // Opens an existing file for writing from the start, neither creating nor
  // truncating it; invalid when it is absent or may not be written.
  static File OpenExistingForWrite(const std::string& path);
  // Opens (or creates) for appending: every write goes to the file's end as it
  // is at that moment, also after a Truncate.
  static File OpenForAppend(const std::string& path);

  bool valid() const { return fd_ >= 0; }
  // Both return the bytes actually moved (short on end of file or error); they
  // retry interrupted and partial transfers, so a short count means the rest
  // cannot be moved.
  size_t Read(void* data, size_t length);
  size_t Write(const void* data, size_t length);
  // As Read, from `offset` and without moving the file position.
  size_t ReadAt(unsigned long long offset, void* data, size_t length);
  bool Sync();  // flushes to the disk
  // Starts writing the file's dirty pages to the disk without waiting; a later
  // Sync then has little left to wait for. Best effort: nothing is reported.
  void StartSync();
  bool Truncate(unsigned long long length);  // sets the file's length
  // Give the open file an owner and group, or permission bits; false when the
  // system refuses (an owner other than the writer needs privilege).
  bool ChangeOwner(uid_t owner, gid_t group);
  bool ChangeMode(mode_t mode);
  void Close();

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

bool FileReadable(const std::string& path);
bool RenameFile(const std::string& from,
                const std::string& to);  // replaces `to`
bool RemoveFile(const std::string& path);
bool LinkFile(const std::string& existing,
              const std::string& new_name);  // a second name
bool SyncDirectory(const std::string& path);
// True when both names exist and are one file (the same inode).
bool SameFile(const std::string& a, const std::string& b);
// The names `path` has (its link count); 0 when it does not exist.
unsigned long LinkCount(const std::string& path);

// Fault injection for tests. After SetWriteBudget(n), writes through File
// deliver n more bytes in total and then come up short; a negative budget (the
// default) turns it off.
void SetWriteBudget(long long bytes);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_FILE_H_
