// The diagnostic listener on a POSIX UDP socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "diag_listener.h"

namespace rondel {
namespace tools {

std::unique_ptr<DiagListener> DiagListener::Open(std::string* error) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return nullptr;
  }
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = std::string("binding 127.0.0.1: ") + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<DiagListener>(
      new DiagListener(fd, ntohs(address.sin_port)));
}

DiagListener::~DiagListener() { close(static_cast<int>(socket_)); }

std::vector<std::string> DiagListener::Receive(int quiet_ms) {
  std::vector<std::string> texts;
  // The largest UDP payload: a datagram is never cut.
  std::vector<char> buffer(65536);
  for (;;) {
    pollfd ready = {static_cast<int>(socket_), POLLIN, 0};
    int events = poll(&ready, 1, quiet_ms);
    if (events < 0 && errno == EINTR) continue;
    if (events <= 0) return texts;
    ssize_t n = recv(static_cast<int>(socket_), buffer.data(), buffer.size(),
                     MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return texts;
    }
    texts.emplace_back(buffer.data(), static_cast<size_t>(n));
  }
}

}  // namespace tools
}  // namespace rondel
