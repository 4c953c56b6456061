// Host addresses and UDP datagrams.
#ifndef RONDEL_PLATFORM_NET_H_
#define RONDEL_PLATFORM_NET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rondel {
namespace platform {

// A dotted IPv4 text of at most 19 characters and its terminator.
constexpr int kAddressTextSize = 20;

// Reads the host name (128-byte buffer) and resolves it to IPv4 addresses in
// resolver order; stores at most `capacity` dotted texts into `out`. Returns
// the number stored, or -1 when the name cannot be read or resolved (then `out`
// is untouched).
int HostAddresses(char (*out)[kAddressTextSize], int capacity);

// Test hooks: make HostAddresses answer `addresses` (in that order) instead of
// asking the resolver, or fail as an unresolvable name does;
// ClearHostAddressOverride restores it.
void OverrideHostAddresses(const std::vector<std::string>& addresses);
void FailHostAddresses();
void ClearHostAddressOverride();

// Sends one datagram of `length` bytes from `data` to `address`:`port` from a
// fresh socket bound to any local address, with broadcast allowed. Returns
// false on any failure.
bool SendDatagram(const char* address, uint16_t port, const void* data,
                  size_t length);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_NET_H_
