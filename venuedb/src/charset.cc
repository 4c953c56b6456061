#include "charset.h"

#include <cerrno>

namespace venuedb {

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
