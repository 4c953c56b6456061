// What the tests need from the operating system, the same on Linux and on
// Windows (under wine): the environment, temporary directories, loopback
// sockets and child processes. One file per platform implements it
// (test_system_posix.cc, test_system_windows.cc); the tests and the other
// helpers use nothing else of either system.
#ifndef RONDEL_TESTS_SUPPORT_TEST_SYSTEM_H_
#define RONDEL_TESTS_SUPPORT_TEST_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rondel {
namespace testing {

// The process environment, as the library reads it (getenv).
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// A new empty directory under the system's temporary directory ($TMPDIR or
// /tmp; on Windows the temporary-files folder), its name starting with
// `prefix`; empty when it cannot be made.
std::string MakeTempDir(const std::string& prefix);
// Removes a directory with everything in it; never follows a symbolic link.
void RemoveTree(const std::string& path);

// Whether this system can copy a running process (fork): Linux can, Windows
// cannot.
bool CanCopyProcess();
// Runs `child` in a copy of this process and answers the status it returns
// (-1 when the copy could not be made or ended abnormally). Only where
// CanCopyProcess().
int RunInCopyOfProcess(const std::function<int()>& child);

// The bytes this system's CP1252 converter refuses in a text the client
// library sends: glibc's refuses the five that code page 1252 leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D); Windows' maps them to U+0081 and
// so on, and refuses none.
std::string Cp1252BytesRefusedOnSend();

// The usable size of a block malloc gave (at least what was asked for).
size_t AllocatedSize(void* block);

// `text`, without its terminator, at the end of a readable page that an
// unreadable page follows: a read past its last byte faults.
class TextAtPageEnd {
 public:
  explicit TextAtPageEnd(const std::string& text);
  ~TextAtPageEnd();
  TextAtPageEnd(const TextAtPageEnd&) = delete;
  TextAtPageEnd& operator=(const TextAtPageEnd&) = delete;
  char* text() const { return text_; }

 private:
  char* pages_ = nullptr;
  size_t page_size_ = 0;
  char* text_ = nullptr;
};

// A loopback socket (127.0.0.1, a port the system picks) that the object owns
// and closes.
class LoopbackSocket {
 public:
  enum class Kind {
    kDatagram,   // bound, receives datagrams
    kListening,  // a TCP port that takes connections and never answers
    kRefusing,   // a TCP port bound but not listening: connections are refused
  };
  explicit LoopbackSocket(Kind kind);
  ~LoopbackSocket();
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  // The next datagram's payload, or false when none arrives within `wait_ms`.
  // `full_size` receives the datagram's real size (the buffer holds the
  // largest UDP payload, so it is the payload's size too).
  bool Receive(std::string* payload, int wait_ms, size_t* full_size);

 private:
  intptr_t handle_ = -1;
  uint16_t port_ = 0;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_TEST_SYSTEM_H_
