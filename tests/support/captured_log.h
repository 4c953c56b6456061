// Small helpers for the frame tests: the module log captured into a file of the
// test's own, and a loopback port where nothing listens. Scratch directories,
// files and the datagram receiver are shared by all tests (tests/support).
#ifndef RONDEL_TESTS_SUPPORT_CAPTURED_LOG_H_
#define RONDEL_TESTS_SUPPORT_CAPTURED_LOG_H_

#include <fstream>
#include <string>
#include <vector>

#include "platform/message_log.h"
#include "test_system.h"

namespace rondel {
namespace testing {

// Points the process-wide module log at a file of this test and reads its lines
// back (the time stamp, process id and level in front of each entry removed).
class CapturedLog {
 public:
  explicit CapturedLog(const std::string& path) : path_(path) {
    platform::MessageLog log;
    log.SetLogFileName(path_.c_str());
    log.EnableFileOutput(true);
    log.EnableScreenOutput(false);
  }
  ~CapturedLog() {
    platform::MessageLog log;
    log.SetLogFileName(nullptr);
  }

  // Entry texts, after "YYYY-MM-DD HH:MM:SS.mmm rondel[PID]: LEVEL: ". Counts
  // of repeats held back are written first.
  std::vector<std::string> Lines() const {
    platform::MessageLog().FlushRepeats();
    std::vector<std::string> lines;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
      const size_t tag = line.find("]: ");
      const size_t level =
          tag == std::string::npos ? tag : line.find(": ", tag + 3);
      lines.push_back(level == std::string::npos ? "" : line.substr(level + 2));
    }
    return lines;
  }
  // How often `text` was logged: a line "TEXT (repeated N times)" counts N.
  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& line : Lines()) n += Times(line, text, false);
    return n;
  }
  int CountContaining(const std::string& part) const {
    int n = 0;
    for (const std::string& line : Lines()) n += Times(line, part, true);
    return n;
  }

 private:
  static int Times(const std::string& line, const std::string& text,
                   bool part) {
    static const char kRepeated[] = " (repeated ";
    const size_t repeated = line.rfind(kRepeated);
    int times = 1;
    std::string logged = line;
    if (repeated != std::string::npos && line.size() > 7 &&
        line.compare(line.size() - 7, 7, " times)") == 0) {
      times = std::stoi(line.substr(repeated + sizeof(kRepeated) - 1));
      logged = line.substr(0, repeated);
    }
    const bool match =
        part ? logged.find(text) != std::string::npos : logged == text;
    return match ? times : 0;
  }

  std::string path_;
};

// A loopback TCP port that is bound but not listening: connections to it are
// refused at once, and no other process can take the port while this lives.
class RefusingPort {
 public:
  int port() const { return socket_.port(); }

 private:
  LoopbackSocket socket_{LoopbackSocket::Kind::kRefusing};
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_CAPTURED_LOG_H_
