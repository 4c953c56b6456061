// Test hooks for the host address list of platform/net.h. Only tests include
// this header; the library never calls these functions itself.
#ifndef RONDEL_PLATFORM_NET_TEST_HOOKS_H_
#define RONDEL_PLATFORM_NET_TEST_HOOKS_H_

#include <optional>
#include <string>
#include <vector>

namespace rondel {
namespace platform {

// Makes HostAddresses take its two sources from here instead of the system:
// `interfaces` stands for the up interfaces' addresses and `resolver` for the
// host name's, each in that order; std::nullopt makes that source fail. The
// answer is then merged as the real sources' would be.
void OverrideAddressSources(
    const std::optional<std::vector<std::string>>& interfaces,
    const std::optional<std::vector<std::string>>& resolver);

// Shorthands for tests above this layer: the interfaces answer `addresses`
// and the resolver nothing; or both sources fail.
void OverrideHostAddresses(const std::vector<std::string>& addresses);
void FailHostAddresses();

// Back to the system's sources.
void ClearHostAddressOverride();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_NET_TEST_HOOKS_H_
