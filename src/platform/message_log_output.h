// What the module log asks of the system, one implementation per platform
// (message_log_posix.cc, message_log_windows.cc); message_log.cc keeps the
// settings, the entry format and the rotation. None of these calls go through
// the system-call table: a test that fails the Nth call of a save must not
// have the save's log line take one of its calls.
#ifndef RONDEL_PLATFORM_MESSAGE_LOG_OUTPUT_H_
#define RONDEL_PLATFORM_MESSAGE_LOG_OUTPUT_H_

#include <cstddef>
#include <ctime>
#include <string>

namespace rondel {
namespace platform {

// The log file opened for appending (created when missing): every Append goes
// to the file's end as it is at that moment. Closed on destruction.
class LogFile {
 public:
  explicit LogFile(const std::string& path);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  bool valid() const;
  // The file's size in bytes; 0 when it cannot be read.
  long long Size() const;
  // Writes all `length` bytes or as many as the system takes; returns how
  // many were written.
  size_t Append(const char* data, size_t length);

 private:
  long long handle_;  // a descriptor or a Windows HANDLE; -1 when not open
};

// Each call below answers false when the system refuses, with the system's
// own words for the reason in *reason: strerror's text on POSIX, the message
// Windows has for its error code on Windows.

// Renames `from` to `to`, replacing `to`.
bool RenameLogFile(const std::string& from, const std::string& to,
                   std::string* reason);

// Reads the last `length` bytes of the file at `path` (all of it when it is
// shorter) into *tail.
bool ReadLogTail(const std::string& path, size_t length, std::string* tail,
                 std::string* reason);

// Empties the existing file at `path` in place, as it stays open in other
// programs, and writes `content` into it. When the file cannot be opened or
// emptied it is left as it was; when `content` cannot be written whole the
// file holds less of it.
bool RewriteLogFile(const std::string& path, const std::string& content,
                    std::string* reason);

// Writes the bytes to standard error, best effort.
void WriteToScreen(const char* data, size_t length);

// The local time now, and the milliseconds of its second.
void LocalTimeNow(std::tm* local, int* milliseconds);

// This process's id, as the system's own tools show it.
unsigned long ProcessId();

// The local time the file at `path` was last written; false when it cannot
// be examined. For log lines that say when a file was written (not through
// the system-call table either).
bool FileWrittenTime(const std::string& path, std::tm* local);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_MESSAGE_LOG_OUTPUT_H_
