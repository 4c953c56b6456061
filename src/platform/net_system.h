// What the host address list asks of the system, one implementation per
// platform (net_posix.cc, net_windows.cc); net.cc merges the two sources and
// keeps the tests' overrides.
#ifndef RONDEL_PLATFORM_NET_SYSTEM_H_
#define RONDEL_PLATFORM_NET_SYSTEM_H_

#include <cstdint>
#include <string>
#include <vector>

namespace rondel {
namespace platform {

using AddressList = std::vector<std::string>;

// The IPv4 addresses of the interfaces that are up, in the system's order,
// appended as dotted texts; false when they cannot be listed. A host name
// often resolves to a loopback alias (127.0.1.1 on Debian) while venues know
// this server by its network card's address: only the interfaces tell that
// one.
bool ListInterfaceAddresses(AddressList* addresses);

// The IPv4 addresses the resolver gives for this host's name, in the
// resolver's order; false when the name cannot be read or resolved.
bool ResolveHostAddresses(AddressList* addresses);

// Appends "a.b.c.d" for the address whose bytes, in network order, are
// `bytes`.
void AppendAddressText(const unsigned char (&bytes)[4], AddressList* addresses);

// Parses a dotted IPv4 text as inet_pton does (four decimal parts 0-255,
// no leading zeros); the bytes in network order.
bool ParseAddressText(const char* text, unsigned char (*bytes)[4]);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_NET_SYSTEM_H_
