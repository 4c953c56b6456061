#include "probe_range.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace rondel {
namespace tools {
namespace {

// A whole decimal int32 with an optional leading minus; nothing else.
bool ParseId(const std::string& text, int32_t* id) {
  if (text.empty() || text.size() > 11) return false;
  size_t digits = text[0] == '-' ? 1 : 0;
  if (digits == text.size()) return false;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < INT32_MIN || value > INT32_MAX) return false;
  *id = static_cast<int32_t>(value);
  return true;
}

// Dotted decimal as inet_pton takes it: four parts of one to three digits,
// each at most 255, none with a leading zero. Parsed here rather than by the
// sockets API so that the same text is an address on every platform.
bool ParseAddress(const std::string& text, uint32_t* address) {
  uint32_t value = 0;
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const size_t begin = at;
    uint32_t octet = 0;
    while (at < text.size() && at - begin < 3 && text[at] >= '0' &&
           text[at] <= '9') {
      octet = octet * 10 + static_cast<uint32_t>(text[at] - '0');
      ++at;
    }
    const size_t digits = at - begin;
    if (digits == 0 || octet > 255 || (digits > 1 && text[begin] == '0')) {
      return false;
    }
    value = (value << 8) | octet;
  }
  if (at != text.size()) return false;
  *address = value;
  return true;
}

}  // namespace

bool ParseIdRange(const std::string& text, int32_t* first, int32_t* last) {
  // The separator is the first '-' that is not a sign: the one after at least
  // one digit.
  size_t separator = text.find('-', text.empty() || text[0] != '-' ? 0 : 1);
  std::string low = text.substr(0, separator);
  std::string high =
      separator == std::string::npos ? low : text.substr(separator + 1);
  int32_t a, b;
  if (!ParseId(low, &a) || !ParseId(high, &b) || a > b) return false;
  if (int64_t{b} - a + 1 > kMaxProbeKeys) return false;
  *first = a;
  *last = b;
  return true;
}

bool ParseAddressRange(const std::string& text, uint32_t* first,
                       uint32_t* last) {
  size_t separator = text.find('-');
  std::string low = text.substr(0, separator);
  std::string high =
      separator == std::string::npos ? low : text.substr(separator + 1);
  uint32_t a, b;
  if (!ParseAddress(low, &a) || !ParseAddress(high, &b) || a > b) return false;
  if (int64_t{b} - a + 1 > kMaxProbeKeys) return false;
  *first = a;
  *last = b;
  return true;
}

std::string FormatAddress(uint32_t address) {
  char text[16] = {};  // "255.255.255.255" and its terminator
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", (address >> 24) & 0xffu,
                (address >> 16) & 0xffu, (address >> 8) & 0xffu,
                address & 0xffu);
  return text;
}

}  // namespace tools
}  // namespace rondel
