// Module log: one line per entry, "YYYY-MM-DD HH:MM:SS.mmm text\n".
//
// The file name and the two output switches are process-wide: setting them on
// any instance affects every instance, including ones made before. Until a file
// name is set nothing is written to a file. AddLog is safe from many threads;
// each entry is written whole with one append. The relative name "rondel.log"
// lands in the process's working directory.
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

namespace rondel {
namespace platform {

class MessageLog {
 public:
  MessageLog();
  virtual ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  bool SetLogFileName(const char* name);  // null or "" turns file output off
  bool EnableFileOutput(bool on);
  bool EnableScreenOutput(bool on);  // screen means standard error
  void AddLog(const char* text);     // null is ignored
};

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_MESSAGE_LOG_H_
