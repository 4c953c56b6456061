#include "frame/diag.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/net.h"

namespace rondel {

namespace {

// The venue LAN's broadcast address and the port monitoring tools listen on.
constexpr char kVenueBroadcastAddress[] = "192.168.0.255";
constexpr uint16_t kDiagPort = 6001;

struct Target {
  char address[platform::kAddressTextSize];
  uint16_t port;
};

// Parses "a.b.c.d:port". A malformed value yields false, so that a mistyped
// test target never sends onto the venue LAN.
bool ParseTarget(const char* text, Target* target) {
  const char* colon = std::strrchr(text, ':');
  if (colon == nullptr) return false;
  size_t address_length = static_cast<size_t>(colon - text);
  if (address_length == 0 || address_length >= sizeof(target->address))
    return false;
  std::memcpy(target->address, text, address_length);
  target->address[address_length] = '\0';
  if (!platform::IsAddressText(target->address)) return false;
  const char* digits = colon + 1;
  if (*digits == '\0') return false;
  unsigned long port = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    port = port * 10 + static_cast<unsigned long>(*p - '0');
    if (port > 65535) return false;
  }
  if (port == 0) return false;
  target->port = static_cast<uint16_t>(port);
  return true;
}

}  // namespace

void Broadcast(const char* text) {
  if (text == nullptr) return;
  Target target;
  // Read on every call: it costs a few hundred nanoseconds beside the socket's
  // set-up, and leaves no cached state to go stale when a test changes the
  // target.
  const char* override_target = std::getenv("RONDEL_DIAG_TARGET");
  if (override_target != nullptr) {
    if (!ParseTarget(override_target, &target)) return;
  } else {
    std::memcpy(target.address, kVenueBroadcastAddress,
                sizeof(kVenueBroadcastAddress));
    target.port = kDiagPort;
  }
  platform::SendDatagram(target.address, target.port, text, std::strlen(text));
}

}  // namespace rondel
