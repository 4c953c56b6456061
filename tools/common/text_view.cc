#include "text_view.h"

#include <iconv.h>

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

std::string Gb18030ToUtf8(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
  std::string in = text;
  std::string out(text.size() * 4 + 4, '\0');
  char* in_at = &in[0];
  size_t in_left = in.size();
  char* out_at = &out[0];
  size_t out_left = out.size();
  const size_t rc = iconv(cd, &in_at, &in_left, &out_at, &out_left);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || in_left != 0) return std::string();
  out.resize(out.size() - out_left);
  return out;
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
  bool has_control = false;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    has_control |= byte < 0x20 || byte == 0x7f;
  }
  if (!plain) {
    shown += " [hex";
    for (char c : text) {
      unsigned char byte = static_cast<unsigned char>(c);
      shown += ' ';
      shown += kHexDigits[byte >> 4];
      shown += kHexDigits[byte & 0x0f];
    }
    shown += ']';
    // Code page 936 texts, readable on a UTF-8 terminal.
    const std::string readable = has_control ? "" : Gb18030ToUtf8(text);
    if (!readable.empty()) shown += " [GBK \"" + readable + "\"]";
  }
  return shown;
}

}  // namespace tools
}  // namespace rondel
