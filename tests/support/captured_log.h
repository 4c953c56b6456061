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
// back (the time stamp in front of each entry removed).
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

  // Entry texts: "YYYY-MM-DD HH:MM:SS.mmm " is 24 characters.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line))
      lines.push_back(line.size() > 24 ? line.substr(24) : "");
    return lines;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& line : Lines()) n += line == text ? 1 : 0;
    return n;
  }
  int CountContaining(const std::string& part) const {
    int n = 0;
    for (const std::string& line : Lines())
      n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
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
