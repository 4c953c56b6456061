#include "platform/net.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/net_system.h"
#include "platform/net_test_hooks.h"
#include "platform/no_destructor.h"

namespace rondel {
namespace platform {

namespace {

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

bool IsLoopback(const std::string& text) {
  unsigned char bytes[4];
  return ParseAddressText(text.c_str(), &bytes) && bytes[0] == 127;
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

void AppendAddressText(const unsigned char (&bytes)[4],
                       AddressList* addresses) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(static_cast<unsigned>(bytes[i]));
  }
  addresses->push_back(text);
}

bool ParseAddressText(const char* text, unsigned char (*bytes)[4]) {
  if (text == nullptr) return false;
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return false;
    if (*p < '0' || *p > '9') return false;
    unsigned value = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
      if (digits > 0 && value == 0) return false;  // a leading zero
      value = value * 10 + static_cast<unsigned>(*p - '0');
      if (value > 255) return false;
    }
    (*bytes)[part] = static_cast<unsigned char>(value);
  }
  return *p == '\0';
}

bool IsAddressText(const char* text) {
  unsigned char bytes[4];
  return ParseAddressText(text, &bytes);
}

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

}  // namespace platform
}  // namespace rondel
