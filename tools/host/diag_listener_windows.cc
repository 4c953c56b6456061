// The diagnostic listener on a Winsock UDP socket. Winsock is the host's to
// start (host_process.h) before a listener opens.
#include <winsock2.h>

#include <cstring>

#include "diag_listener.h"

namespace rondel {
namespace tools {
namespace {

std::string SocketError(const char* step) {
  return std::string(step) + ": Winsock error " +
         std::to_string(WSAGetLastError());
}

}  // namespace

std::unique_ptr<DiagListener> DiagListener::Open(std::string* error) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    *error = SocketError("socket");
    return nullptr;
  }
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = static_cast<int>(sizeof(address));
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = SocketError("binding 127.0.0.1");
    closesocket(s);
    return nullptr;
  }
  return std::unique_ptr<DiagListener>(
      new DiagListener(static_cast<intptr_t>(s), ntohs(address.sin_port)));
}

DiagListener::~DiagListener() { closesocket(static_cast<SOCKET>(socket_)); }

std::vector<std::string> DiagListener::Receive(int quiet_ms) {
  const SOCKET s = static_cast<SOCKET>(socket_);
  std::vector<std::string> texts;
  // The largest UDP payload: a datagram is never cut.
  std::vector<char> buffer(65536);
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait = {quiet_ms / 1000, (quiet_ms % 1000) * 1000};
    // The first argument is ignored by Winsock.
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return texts;
    int n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
    if (n == SOCKET_ERROR) {
      // A datagram larger than the buffer cannot arrive (the buffer holds
      // the largest); a reset reports an earlier send's unreachable port,
      // which this socket never makes.
      if (WSAGetLastError() == WSAECONNRESET) continue;
      return texts;
    }
    texts.emplace_back(buffer.data(), static_cast<size_t>(n));
  }
}

}  // namespace tools
}  // namespace rondel
