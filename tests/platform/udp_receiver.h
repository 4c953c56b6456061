// A UDP socket on 127.0.0.1 and a free port, for tests that check datagrams
// byte for byte.
#ifndef RONDEL_TESTS_PLATFORM_UDP_RECEIVER_H_
#define RONDEL_TESTS_PLATFORM_UDP_RECEIVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace rondel {
namespace testing {

class UdpReceiver {
 public:
  UdpReceiver() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
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
  std::string target() const { return "127.0.0.1:" + std::to_string(port_); }

  // The next datagram's payload, or false when none arrives within `wait_ms`.
  // `full_size` receives the datagram's real size even when it exceeds the
  // buffer.
  bool Receive(std::string* payload, int wait_ms = 5000,
               size_t* full_size = nullptr) {
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, wait_ms) != 1) return false;
    char buffer[2048];
    ssize_t size = recv(fd_, buffer, sizeof(buffer), MSG_TRUNC);
    if (size < 0) return false;
    size_t kept = static_cast<size_t>(size) < sizeof(buffer)
                      ? static_cast<size_t>(size)
                      : sizeof(buffer);
    payload->assign(buffer, kept);
    if (full_size != nullptr) *full_size = static_cast<size_t>(size);
    return true;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_PLATFORM_UDP_RECEIVER_H_
