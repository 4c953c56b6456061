#include "text_view.h"

#include <cstring>

namespace rondel {
namespace tools {

std::string FieldText(const char* field, size_t field_size) {
  const void* end = std::memchr(field, '\0', field_size);
  size_t length =
      end ? static_cast<size_t>(static_cast<const char*>(end) - field)
          : field_size;
  return std::string(field, length);
}

std::string ShowText(const std::string& text) {
  static const char kHexDigits[] = "0123456789abcdef";
  std::string shown = "\"";
  bool plain = true;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      plain = false;
      shown += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      plain = false;
      shown += '?';
    } else {
      shown += c;
    }
  }
  shown += '"';
  if (!plain) {
    shown += " [hex";
    for (char c : text) {
      unsigned char byte = static_cast<unsigned char>(c);
      shown += ' ';
      shown += kHexDigits[byte >> 4];
      shown += kHexDigits[byte & 0x0f];
    }
    shown += ']';
  }
  return shown;
}

}  // namespace tools
}  // namespace rondel
