// Module log: one line per entry, as syslog and journald readers take them:
//   "YYYY-MM-DD HH:MM:SS.mmm rondel[PID]: LEVEL: text\n"
// in local time, with the writing process's id (the host and the tools may
// share one file) and one of the levels "error", "warning", "notice" (a change
// of state: start-up's source, the database lost and back) or "info".
//
// The file name and the two output switches are process-wide: setting them on
// any instance affects every instance, including ones made before. Until a file
// name is set nothing is written to a file. AddLog is safe from many threads;
// each entry is written whole with one append. The relative name "rondel.log"
// lands in the process's working directory.
//
// An entry whose text and level were already written less than a minute ago
// is not written again, only counted: a failing connection tried hundreds of
// times a second gives its lines once. The count goes out as the same entry
// with " (repeated N times)" after its text (N the entries left out) when an
// entry not among those held back comes, when the minute since its first
// writing has passed (at the next entry), at FlushRepeats and when the file
// name changes. At most 64 texts are held at once; the oldest gives way.
//
// The file is kept to 16 MiB: when an entry would take it past that, the file
// is renamed to "<name>.1" (replacing an older one) and a new file is started,
// so the log never holds more than twice the cap. The size is counted by this
// process (read from the file when it is first opened under its name), so
// other processes appending to the same file may take it past the cap by
// what they write.
//
// When the system refuses the rename (on Windows whenever another program has
// the log open without allowing it; "<name>.1" a directory), the file is cut
// down in place to its newest lines, at most half the cap, and goes on; one
// line with the system's reason says so the first time, and is kept at the
// head of the file after each cut until a rename works again. When the file
// cannot be cut down either, entries stop going to the file (one line says
// why, past the cap; the screen still gets them) and room is sought again
// every 10 s; a line then says how many entries the file missed.
#ifndef RONDEL_PLATFORM_MESSAGE_LOG_H_
#define RONDEL_PLATFORM_MESSAGE_LOG_H_

#include <string>

namespace rondel {
namespace platform {

enum class LogLevel { kError, kWarning, kNotice, kInfo };

class MessageLog {
 public:
  MessageLog();
  virtual ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  bool SetLogFileName(const char* name);  // null or "" turns file output off
  bool EnableFileOutput(bool on);
  bool EnableScreenOutput(bool on);  // screen means standard error
  // null is ignored; an existing failure line keeps the default level.
  void AddLog(const char* text, LogLevel level = LogLevel::kError);
  // Writes the counts of entries held back as repeats now.
  void FlushRepeats();
};

// "YYYY-MM-DD HH:MM:SS", the local time the file at `path` was last written;
// empty when it cannot be examined.
std::string FileWrittenStamp(const std::string& path);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_MESSAGE_LOG_H_
