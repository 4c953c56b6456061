// Ranges the host command probes: media ids ("100-250") and IPv4 addresses
// ("10.1.0.1-10.1.2.255"), since the library answers single keys and exports no
// counts.
#ifndef RONDEL_TOOLS_PROBE_RANGE_H_
#define RONDEL_TOOLS_PROBE_RANGE_H_

#include <cstdint>
#include <string>

namespace rondel {
namespace tools {

// The largest range either parser accepts, so that a typing error cannot start
// a probe of billions of keys.
constexpr int64_t kMaxProbeKeys = 1000000;

// "A-B" or "A", with A <= B, both int32 (negative ids are written "-5--1").
// False on any other text or on more than kMaxProbeKeys ids.
bool ParseIdRange(const std::string& text, int32_t* first, int32_t* last);

// "A.B.C.D-E.F.G.H" or one address, dotted decimal, first <= last. Addresses
// come back as host-order integers. False on any other text or on more than
// kMaxProbeKeys addresses.
bool ParseAddressRange(const std::string& text, uint32_t* first,
                       uint32_t* last);

// Dotted-decimal text of a host-order address.
std::string FormatAddress(uint32_t address);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_PROBE_RANGE_H_
