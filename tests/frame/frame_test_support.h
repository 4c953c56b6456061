// Small helpers for the frame tests: a scratch directory, the module log
// captured into a file of the test's own, a loopback port where nothing
// listens, and a loopback datagram receiver.
#ifndef RONDEL_TESTS_FRAME_FRAME_TEST_SUPPORT_H_
#define RONDEL_TESTS_FRAME_FRAME_TEST_SUPPORT_H_

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message_log.h"

namespace rondel {
namespace testing {

class ScratchDir {
 public:
  ScratchDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
        "/rondel-frame-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (!path_.empty()) Remove(path_);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  static void Remove(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string child = path + "/" + name;
        struct stat info;
        if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
          Remove(child);
        } else {
          unlink(child.c_str());
        }
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  }
  std::string path_;
};

inline void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

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
  RefusingPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 &&
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~RefusingPort() {
    if (fd_ >= 0) close(fd_);
  }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A UDP socket on 127.0.0.1 receiving the diagnostic datagrams.
class DatagramReceiver {
 public:
  DatagramReceiver() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 &&
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
    // A lost datagram must fail the test, not hang it.
    timeval wait{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~DatagramReceiver() {
    if (fd_ >= 0) close(fd_);
  }
  DatagramReceiver(const DatagramReceiver&) = delete;
  DatagramReceiver& operator=(const DatagramReceiver&) = delete;

  std::string target() const { return "127.0.0.1:" + std::to_string(port_); }
  // The next datagram's payload; false when none arrives.
  bool Receive(std::string* payload) {
    char buffer[65536];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return false;
    payload->assign(buffer, static_cast<size_t>(n));
    return true;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_FRAME_FRAME_TEST_SUPPORT_H_
