// Module log: one line per entry, "YYYY-MM-DD HH:MM:SS.mmm text\n".
//
// The file name and the two output switches are process-wide: setting them on
// any instance affects every instance, including ones made before. Until a file
// name is set nothing is written to a file. AddLog is safe from many threads;
// each entry is written whole with one append. The relative name "rondel.log"
// lands in the process's working directory.
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
