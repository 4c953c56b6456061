#include "value.h"

#include <cstdio>
#include <cstdlib>

namespace venuedb {

int64_t Value::AsInt() const {
  switch (kind) {
    case kInt:
      return integer;
    case kReal:
      return static_cast<int64_t>(real);
    case kText:
      return std::strtoll(text.c_str(), nullptr, 10);
    case kNull:
      break;
  }
  return 0;
}

std::string Value::AsText() const {
  switch (kind) {
    case kInt:
      return std::to_string(integer);
    case kReal: {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.15g", real);
      return buffer;
    }
    case kText:
      return text;
    case kNull:
      break;
  }
  return std::string();
}

}  // namespace venuedb
