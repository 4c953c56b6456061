#include "charset.h"

#include <cerrno>

namespace venuedb {

namespace {

bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsDigit(unsigned char b) { return b >= 0x30 && b <= 0x39; }

// The length of the character at p (left >= 1 bytes available).
size_t Gb18030CharLength(const unsigned char* p, size_t left) {
  if (!IsLead(p[0]) || left < 2) return 1;
  if (IsDigit(p[1])) {
    return left >= 4 && IsLead(p[2]) && IsDigit(p[3]) ? 4 : 1;
  }
  return p[1] >= 0x40 && p[1] != 0x7F && p[1] != 0xFF ? 2 : 1;
}

}  // namespace

size_t Gb18030PrefixLength(const char* text, size_t size, size_t max_bytes) {
  if (size <= max_bytes) return size;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t length = 0;
  for (;;) {
    size_t next = length + Gb18030CharLength(bytes + length, size - length);
    if (next > max_bytes) return length;
    length = next;
  }
}

Charset::Charset()
    : to_gb_(iconv_open("GB18030", "UTF-16LE")),
      from_gb_(iconv_open("UTF-16LE", "GB18030")) {}

Charset::~Charset() {
  if (to_gb_ != reinterpret_cast<iconv_t>(-1)) iconv_close(to_gb_);
  if (from_gb_ != reinterpret_cast<iconv_t>(-1)) iconv_close(from_gb_);
}

bool Charset::Convert(iconv_t cd, const std::string& in, size_t unit,
                      const std::string& bad, std::string* out) {
  out->clear();
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *out = in;
    return false;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  bool clean = true;
  std::string chunk(in.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  while (src_left > 0) {
    char* dst = &chunk[0];
    size_t dst_left = chunk.size();
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out->append(chunk.data(), chunk.size() - dst_left);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace one unit and go on.
    clean = false;
    out->append(bad);
    size_t step = unit < src_left ? unit : src_left;
    src += step;
    src_left -= step;
  }
  return clean;
}

bool Charset::Utf16ToGb(const std::string& utf16, std::string* gb) {
  return Convert(to_gb_, utf16, 2, "?", gb);
}

std::string Charset::GbToUtf16(const std::string& gb) {
  std::string out;
  Convert(from_gb_, gb, 1, std::string("?\0", 2), &out);
  return out;
}

}  // namespace venuedb
