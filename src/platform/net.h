// Host addresses and UDP datagrams.
#ifndef RONDEL_PLATFORM_NET_H_
#define RONDEL_PLATFORM_NET_H_

#include <cstddef>
#include <cstdint>

namespace rondel {
namespace platform {

// A dotted IPv4 text of at most 19 characters and its terminator.
constexpr int kAddressTextSize = 20;

// The most addresses HostAddresses ever lists.
constexpr int kMaxHostAddresses = 32;

// This host's IPv4 addresses, as dotted texts: those of its up interfaces
// first (in the kernel's order), then those the resolver gives for the host
// name that are not listed yet. Every address appears once, and loopback
// addresses (127.0.0.0/8) come after all the others, so that a list cut short
// keeps the addresses other machines know this host by. At most
// kMaxHostAddresses texts, and at most `capacity`, are stored into `out`, the
// first ones of that order. Returns the number stored; one source that cannot
// be asked adds nothing, and only when neither can is the answer -1 (then
// `out` is untouched).
//
//   interfaces 10.0.0.5, 127.0.0.1; host name 127.0.1.1, 10.0.0.5
//   -> 10.0.0.5, 127.0.0.1, 127.0.1.1
int HostAddresses(char (*out)[kAddressTextSize], int capacity);

// True when `text` is a dotted IPv4 address ("192.168.0.255"): four decimal
// parts of 0 to 255 without leading zeros, as inet_pton reads them.
bool IsAddressText(const char* text);

// Sends one datagram of `length` bytes from `data` to `address`:`port` from a
// fresh socket bound to any local address, with broadcast allowed. Returns
// false on any failure. On Windows the host must have started Winsock
// (WSAStartup) first; this layer never does, and answers false until then.
bool SendDatagram(const char* address, uint16_t port, const void* data,
                  size_t length);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_NET_H_
