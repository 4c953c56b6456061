#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/net.h"
#include "platform/net_system.h"
#include "platform/syscall.h"

namespace rondel {
namespace platform {

namespace {

constexpr size_t kHostNameSize = 128;
// Resolver scratch space grows on ERANGE up to this bound.
constexpr size_t kMaxResolverBuffer = 1u << 16;

void AppendInAddr(const in_addr& address, AddressList* addresses) {
  unsigned char bytes[4];
  std::memcpy(bytes, &address, sizeof(bytes));
  AppendAddressText(bytes, addresses);
}

}  // namespace

bool ListInterfaceAddresses(AddressList* addresses) {
  ifaddrs* first = nullptr;
  if (sys::GetIfAddrs(&first) != 0) return false;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> hold(first, freeifaddrs);
  for (const ifaddrs* entry = first; entry != nullptr;
       entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
        (entry->ifa_flags & IFF_UP) == 0) {
      continue;
    }
    AppendInAddr(
        reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr,
        addresses);
  }
  return true;
}

bool ResolveHostAddresses(AddressList* addresses) {
  char name[kHostNameSize];
  if (gethostname(name, sizeof(name)) != 0) return false;
  name[sizeof(name) - 1] = '\0';

  // gethostbyname_r keeps the resolver's own order (getaddrinfo would sort the
  // answers).
  std::vector<char> scratch(1024);
  hostent entry;
  hostent* result = nullptr;
  int resolver_error = 0;
  for (;;) {
    int rc = sys::GetHostByNameR(name, &entry, scratch.data(), scratch.size(),
                                 &result, &resolver_error);
    if (rc == ERANGE && scratch.size() < kMaxResolverBuffer) {
      scratch.resize(scratch.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr) return false;
    break;
  }
  if (result->h_addrtype != AF_INET || result->h_length != 4) return false;
  for (char** item = result->h_addr_list; *item != nullptr; ++item) {
    in_addr address;
    std::memcpy(&address, *item, sizeof(address));
    AppendInAddr(address, addresses);
  }
  return true;
}

bool SendDatagram(const char* address, uint16_t port, const void* data,
                  size_t length) {
  if (address == nullptr || (data == nullptr && length > 0)) return false;
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof(destination));
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  if (inet_pton(AF_INET, address, &destination.sin_addr) != 1) return false;

  int fd = sys::Socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in local;
  std::memset(&local, 0, sizeof(local));
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
    close(fd);
    return false;
  }
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  ssize_t sent;
  do {
    sent = sys::SendTo(fd, data, length, 0,
                       reinterpret_cast<const sockaddr*>(&destination),
                       sizeof(destination));
  } while (sent < 0 && errno == EINTR);
  close(fd);
  return sent >= 0 && static_cast<size_t>(sent) == length;
}

}  // namespace platform
}  // namespace rondel
