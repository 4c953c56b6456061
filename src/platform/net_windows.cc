// Winsock and the IP helper. The host starts Winsock (WSAStartup) before it
// calls the library; nothing here starts or stops it, so every call made
// before then fails and is answered as a failure.
#define _WINSOCK_DEPRECATED_NO_WARNINGS  // gethostbyname: see below
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before windows.h.
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/net.h"
#include "platform/net_system.h"

namespace rondel {
namespace platform {

namespace {

constexpr int kHostNameSize = 256;
// GetAdaptersAddresses' first buffer; it says how much it needs when more.
constexpr ULONG kFirstAdapterBuffer = 16384;
constexpr int kAdapterAttempts = 3;

void AppendSocketAddress(const sockaddr* address, AddressList* addresses) {
  unsigned char bytes[4];
  std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr,
              sizeof(bytes));
  AppendAddressText(bytes, addresses);
}

}  // namespace

bool ListInterfaceAddresses(AddressList* addresses) {
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                      GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = kFirstAdapterBuffer;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0;
       attempt < kAdapterAttempts && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersAddresses(
        AF_INET, flags, nullptr,
        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc == ERROR_NO_DATA) return true;  // no interface at all
  if (rc != NO_ERROR) return false;
  for (const IP_ADAPTER_ADDRESSES* adapter =
           reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast =
             adapter->FirstUnicastAddress;
         unicast != nullptr; unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      AppendSocketAddress(address, addresses);
    }
  }
  return true;
}

bool ResolveHostAddresses(AddressList* addresses) {
  char name[kHostNameSize];
  if (gethostname(name, sizeof(name)) != 0) return false;
  name[sizeof(name) - 1] = '\0';
  // gethostbyname keeps the resolver's own order, as on POSIX (getaddrinfo
  // may sort the answers); Winsock gives each thread its own result.
  const hostent* result = gethostbyname(name);
  if (result == nullptr || result->h_addrtype != AF_INET ||
      result->h_length != 4) {
    return false;
  }
  for (char** item = result->h_addr_list; *item != nullptr; ++item) {
    unsigned char bytes[4];
    std::memcpy(bytes, *item, sizeof(bytes));
    AppendAddressText(bytes, addresses);
  }
  return true;
}

bool SendDatagram(const char* address, uint16_t port, const void* data,
                  size_t length) {
  if (address == nullptr || (data == nullptr && length > 0)) return false;
  if (length > 0x7FFFFFFF) return false;
  unsigned char bytes[4];
  if (!ParseAddressText(address, &bytes)) return false;
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof(destination));
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  std::memcpy(&destination.sin_addr, bytes, sizeof(bytes));

  SOCKET datagram = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (datagram == INVALID_SOCKET) return false;  // also: Winsock not started
  sockaddr_in local;
  std::memset(&local, 0, sizeof(local));
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  if (bind(datagram, reinterpret_cast<const sockaddr*>(&local),
           sizeof(local)) != 0) {
    closesocket(datagram);
    return false;
  }
  BOOL on = TRUE;
  setsockopt(datagram, SOL_SOCKET, SO_BROADCAST,
             reinterpret_cast<const char*>(&on), sizeof(on));
  const int sent = sendto(
      datagram, static_cast<const char*>(data), static_cast<int>(length), 0,
      reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
  closesocket(datagram);
  return sent != SOCKET_ERROR && static_cast<size_t>(sent) == length;
}

}  // namespace platform
}  // namespace rondel
