// The diagnostic texts the library sends while the host command runs. The
// command binds a UDP socket to a free port on 127.0.0.1 and names it to the
// library in RONDEL_DIAG_TARGET before the library starts, so the texts come
// back to the command and never go out on the venue network. The socket is the
// platform's: diag_listener_posix.cc and diag_listener_windows.cc (Winsock,
// which the caller has started).
#ifndef RONDEL_TOOLS_DIAG_LISTENER_H_
#define RONDEL_TOOLS_DIAG_LISTENER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rondel {
namespace tools {

class DiagListener {
 public:
  // Binds 127.0.0.1 on a port the system picks. On failure returns null with
  // the reason in *error.
  static std::unique_ptr<DiagListener> Open(std::string* error);

  DiagListener(const DiagListener&) = delete;
  DiagListener& operator=(const DiagListener&) = delete;
  ~DiagListener();

  // "127.0.0.1:PORT": the value for RONDEL_DIAG_TARGET.
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

  // Every datagram that arrived since the last call, in arrival order, each as
  // its bytes. After the last one waiting it waits up to `quiet_ms` for
  // another. The library sends its texts before the export returns, and
  // loopback delivers them at once, so a short wait only guards against a
  // slow scheduler.
  std::vector<std::string> Receive(int quiet_ms);

 private:
  DiagListener(intptr_t socket, uint16_t port) : socket_(socket), port_(port) {}

  intptr_t socket_;  // a file descriptor, or a Winsock SOCKET
  uint16_t port_;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_DIAG_LISTENER_H_
