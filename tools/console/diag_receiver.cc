#include "diag_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace rondel {
namespace tools {

namespace {

// The largest datagram UDP carries; the library's are far smaller.
constexpr size_t kMaxDatagram = 65535;
// How often the thread looks whether it is asked to stop.
constexpr int kStopCheckMs = 200;

std::string AddressText(const sockaddr_in& address) {
  char host[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
  return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

bool ParseAddress(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int number = std::stoi(digits);
  in_addr parsed;
  if (number > 65535 ||
      inet_pton(AF_INET, text.substr(0, colon).c_str(), &parsed) != 1) {
    return false;
  }
  *host = text.substr(0, colon);
  *port = number;
  return true;
}

std::unique_ptr<DiagReceiver> DiagReceiver::Start(const std::string& host,
                                                  int port, LiveDatagrams* live,
                                                  std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    *error = "not an IPv4 address: " + host;
    return nullptr;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return nullptr;
  }
  // Several listeners (a monitor beside the console) may share the port, as
  // they share the venue's broadcasts.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<DiagReceiver>(
      new DiagReceiver(fd, AddressText(address), live));
}

DiagReceiver::DiagReceiver(int socket, std::string address, LiveDatagrams* live)
    : socket_(socket), address_(std::move(address)), live_(live) {
  thread_ = std::thread([this] { Receive(); });
}

DiagReceiver::~DiagReceiver() {
  stop_ = true;
  thread_.join();
  close(socket_);
}

void DiagReceiver::Receive() {
  std::string buffer(kMaxDatagram, '\0');
  while (!stop_) {
    pollfd waiting{socket_, POLLIN, 0};
    if (poll(&waiting, 1, kStopCheckMs) <= 0) continue;
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    const ssize_t n = recvfrom(socket_, &buffer[0], buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&sender), &size);
    if (n < 0) continue;
    Datagram datagram;
    clock_gettime(CLOCK_REALTIME, &datagram.received);
    datagram.sender = AddressText(sender);
    datagram.text.assign(buffer.data(), static_cast<size_t>(n));
    live_->Add(datagram);
  }
}

}  // namespace tools
}  // namespace rondel
