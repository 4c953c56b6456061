#include "platform/net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform/no_destructor.h"

namespace rondel {
namespace platform {

namespace {

constexpr size_t kHostNameSize = 128;
// Resolver scratch space grows on ERANGE up to this bound.
constexpr size_t kMaxResolverBuffer = 1u << 16;

enum class OverrideMode { kNone, kAnswer, kFail };

struct AddressOverride {
  std::mutex mutex;
  OverrideMode mode = OverrideMode::kNone;
  std::vector<std::string> addresses;
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

// Resolves this host's name; false when the name cannot be read or resolved.
bool ResolveHostAddresses(std::vector<std::string>* addresses) {
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
    int rc = gethostbyname_r(name, &entry, scratch.data(), scratch.size(),
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
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, *item, text, sizeof(text)) != nullptr) {
      addresses->push_back(text);
    }
  }
  return true;
}

}  // namespace

int HostAddresses(char (*out)[kAddressTextSize], int capacity) {
  std::vector<std::string> addresses;
  OverrideMode mode;
  {
    AddressOverride& state = Override();
    std::lock_guard<std::mutex> hold(state.mutex);
    mode = state.mode;
    if (mode == OverrideMode::kAnswer) addresses = state.addresses;
  }
  if (mode == OverrideMode::kFail) return -1;
  if (mode == OverrideMode::kNone && !ResolveHostAddresses(&addresses))
    return -1;
  int stored = 0;
  for (const std::string& address : addresses) {
    if (stored >= capacity) break;
    CopyAddressText(address.c_str(), out[stored]);
    ++stored;
  }
  return stored;
}

void OverrideHostAddresses(const std::vector<std::string>& addresses) {
  AddressOverride& state = Override();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.mode = OverrideMode::kAnswer;
  state.addresses = addresses;
}

void FailHostAddresses() {
  AddressOverride& state = Override();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.mode = OverrideMode::kFail;
  state.addresses.clear();
}

void ClearHostAddressOverride() {
  AddressOverride& state = Override();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.mode = OverrideMode::kNone;
  state.addresses.clear();
}

bool SendDatagram(const char* address, uint16_t port, const void* data,
                  size_t length) {
  if (address == nullptr || (data == nullptr && length > 0)) return false;
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof(destination));
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  if (inet_pton(AF_INET, address, &destination.sin_addr) != 1) return false;

  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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
    sent = sendto(fd, data, length, 0,
                  reinterpret_cast<const sockaddr*>(&destination),
                  sizeof(destination));
  } while (sent < 0 && errno == EINTR);
  close(fd);
  return sent >= 0 && static_cast<size_t>(sent) == length;
}

}  // namespace platform
}  // namespace rondel
