#include "probe_range.h"

#include <arpa/inet.h>

#include <cerrno>
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

bool ParseAddress(const std::string& text, uint32_t* address) {
  in_addr parsed;
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  *address = ntohl(parsed.s_addr);
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
  in_addr value;
  value.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &value, text, sizeof(text));
  return text;
}

}  // namespace tools
}  // namespace rondel
