#include "platform/net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/net_test_hooks.h"
#include "platform/no_destructor.h"
#include "platform/syscall.h"

namespace rondel {
namespace platform {

namespace {

constexpr size_t kHostNameSize = 128;
// Resolver scratch space grows on ERANGE up to this bound.
constexpr size_t kMaxResolverBuffer = 1u << 16;

using AddressList = std::vector<std::string>;

// What tests put in place of the system's two address sources.
struct AddressOverride {
  std::mutex mutex;
  bool active = false;
  std::optional<AddressList> interfaces;
  std::optional<AddressList> resolver;
  std::function<void()> delay;
};

AddressOverride& Override() {
  static NoDestructor<AddressOverride> state;  // outlives static destructors
  return *state.get();
}

void CopyAddressText(const char* text, char (&out)[kAddressTextSize]) {
  size_t length = std::strlen(text);
  if (length > kAddressTextSize - 1) length = kAddressTextSize - 1;
  std::memcpy(out, text, length);
  out[length] = '\0';
}

bool AppendAddressText(const in_addr& address, AddressList* addresses) {
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &address, text, sizeof(text)) == nullptr) return false;
  addresses->push_back(text);
  return true;
}

// The addresses of the interfaces that are up; false when they cannot be
// listed. A host name often resolves to a loopback alias (127.0.1.1 on Debian)
// while venues know this server by its network card's address: only the
// interfaces tell that one.
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
    AppendAddressText(
        reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr,
        addresses);
  }
  return true;
}

// Resolves this host's name; false when the name cannot be read or resolved.
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
    AppendAddressText(address, addresses);
  }
  return true;
}

bool IsLoopback(const std::string& text) {
  in_addr address;
  return inet_pton(AF_INET, text.c_str(), &address) == 1 &&
         (ntohl(address.s_addr) >> 24) == 127;
}

// Both sources in order, each address once, loopback ones last, cut to the
// cap.
AddressList Merge(const AddressList& interfaces, const AddressList& resolver) {
  AddressList others;
  AddressList loopback;
  for (const AddressList* source : {&interfaces, &resolver}) {
    for (const std::string& address : *source) {
      AddressList& kind = IsLoopback(address) ? loopback : others;
      if (std::find(kind.begin(), kind.end(), address) == kind.end())
        kind.push_back(address);
    }
  }
  others.insert(others.end(), loopback.begin(), loopback.end());
  if (others.size() > static_cast<size_t>(kMaxHostAddresses))
    others.resize(kMaxHostAddresses);
  return others;
}

}  // namespace

int HostAddresses(char (*out)[kAddressTextSize], int capacity) {
  std::optional<AddressList> interfaces;
  std::optional<AddressList> resolver;
  bool overridden;
  std::function<void()> delay;
  {
    AddressOverride& state = Override();
    std::lock_guard<std::mutex> hold(state.mutex);
    overridden = state.active;
    if (overridden) {
      interfaces = state.interfaces;
      resolver = state.resolver;
    }
    delay = state.delay;
  }
  if (delay) delay();
  if (!overridden) {
    interfaces.emplace();
    if (!ListInterfaceAddresses(&*interfaces)) interfaces.reset();
    resolver.emplace();
    if (!ResolveHostAddresses(&*resolver)) resolver.reset();
  }
  if (!interfaces && !resolver) return -1;
  const AddressList merged = Merge(interfaces ? *interfaces : AddressList(),
                                   resolver ? *resolver : AddressList());
  int stored = 0;
  for (const std::string& address : merged) {
    if (stored >= capacity) break;
    CopyAddressText(address.c_str(), out[stored]);
    ++stored;
  }
  return stored;
}

void OverrideAddressSources(const std::optional<AddressList>& interfaces,
                            const std::optional<AddressList>& resolver) {
  AddressOverride& state = Override();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.active = true;
  state.interfaces = interfaces;
  state.resolver = resolver;
}

void OverrideHostAddresses(const AddressList& addresses) {
  OverrideAddressSources(addresses, AddressList());
}

void FailHostAddresses() { OverrideAddressSources(std::nullopt, std::nullopt); }

void DelayHostAddresses(std::function<void()> wait) {
  AddressOverride& state = Override();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.delay = std::move(wait);
}

void ClearHostAddressOverride() {
  AddressOverride& state = Override();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.active = false;
  state.interfaces.reset();
  state.resolver.reset();
  state.delay = nullptr;
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
