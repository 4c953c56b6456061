// Test hooks for the host address list of platform/net.h. Only tests include
// this header; the library never calls these functions itself.
#ifndef RONDEL_PLATFORM_NET_TEST_HOOKS_H_
#define RONDEL_PLATFORM_NET_TEST_HOOKS_H_

#include <functional>
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

// Makes every HostAddresses call run `wait` first, on the calling thread and
// before it asks either source (overridden or not), as a resolver that takes
// its time holds its caller. An empty function, or ClearHostAddressOverride,
// ends that.
void DelayHostAddresses(std::function<void()> wait);

// Back to the system's sources, without delay.
void ClearHostAddressOverride();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_NET_TEST_HOOKS_H_
