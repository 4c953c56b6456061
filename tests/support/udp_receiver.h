// Loopback receivers for the diagnostic datagrams, for tests that check them
// byte for byte. Nothing here sends: the library sends, to the address that
// RONDEL_DIAG_TARGET names, and these sockets receive on 127.0.0.1 only.
//
//   UdpReceiver receiver;                       // 127.0.0.1, a free port
//   setenv("RONDEL_DIAG_TARGET", receiver.target().c_str(), 1);
//   std::string payload;
//   ASSERT_TRUE(receiver.Receive(&payload));
//
// Not thread-safe: receive from one thread.
#ifndef RONDEL_TESTS_SUPPORT_UDP_RECEIVER_H_
#define RONDEL_TESTS_SUPPORT_UDP_RECEIVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rondel {
namespace testing {

// A UDP socket on 127.0.0.1 and a free port. ok() is false when the socket
// could not be made or bound.
class UdpReceiver {
 public:
  UdpReceiver() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    // Room for bursts from many threads before the test reads them.
    int buffer = 1 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) !=
            0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~UdpReceiver() {
    if (fd_ >= 0) close(fd_);
  }
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  // "127.0.0.1:PORT", as RONDEL_DIAG_TARGET takes it.
  std::string target() const { return "127.0.0.1:" + std::to_string(port_); }

  // The next datagram's payload, or false when none arrives within `wait_ms`
  // (a lost datagram fails the test instead of hanging it). `full_size`
  // receives the datagram's real size, which is also the payload's size: the
  // buffer holds the largest UDP payload.
  bool Receive(std::string* payload, int wait_ms = 10000,
               size_t* full_size = nullptr) {
    if (fd_ < 0) return false;
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, wait_ms) != 1) return false;
    std::vector<char> buffer(65536);
    ssize_t size = recv(fd_, buffer.data(), buffer.size(), MSG_TRUNC);
    if (size < 0) return false;
    size_t kept = static_cast<size_t>(size) < buffer.size()
                      ? static_cast<size_t>(size)
                      : buffer.size();
    payload->assign(buffer.data(), kept);
    if (full_size != nullptr) *full_size = static_cast<size_t>(size);
    return true;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A UdpReceiver that RONDEL_DIAG_TARGET points at while it lives: the variable
// is set when the receiver is ready and removed when the object goes.
class DiagListener {
 public:
  DiagListener() {
    if (receiver_.ok())
      setenv("RONDEL_DIAG_TARGET", receiver_.target().c_str(), 1);
  }
  ~DiagListener() { unsetenv("RONDEL_DIAG_TARGET"); }
  DiagListener(const DiagListener&) = delete;
  DiagListener& operator=(const DiagListener&) = delete;

  bool ready() const { return receiver_.ok(); }

  // The next datagram's payload; "<none>" when nothing arrives within five
  // seconds or the socket fails.
  std::string Next() {
    std::string payload;
    return receiver_.Receive(&payload, 5000) ? payload : "<none>";
  }

 private:
  UdpReceiver receiver_;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_UDP_RECEIVER_H_
