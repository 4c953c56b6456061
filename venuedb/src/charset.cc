#include "charset.h"

#include <cerrno>
#include <cstdint>

namespace venuedb {

namespace {

// U+xxxx of CP1252's bytes 0x80-0x9F.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint16_t Cp1252Unit(unsigned char b) {
  return b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : b;
}

// The byte of a UTF-16 code unit in CP1252; false when it has none. The C1
// controls U+0080-U+009F take the byte of the same number, as Windows' best
// fit does, so the five unassigned bytes come back from their code points.
bool Cp1252Byte(uint16_t unit, unsigned char* b) {
  if (unit <= 0xFF) {
    *b = static_cast<unsigned char>(unit);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kCp1252High[i] == unit) {
      *b = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

// Whether a code unit can be part of a name (so an N before a quote that
// follows one is the name's last letter, not a Unicode literal's prefix).
bool IsNameUnit(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
         (c >= u'0' && c <= u'9') || c == u'_' || c == u'@' || c == u'#' ||
         c == u'$' || c >= 0x80;
}

// The end of the SQL text's part that starts at unit i (units[i] opens a
// literal, a comment or a quoted name, else the part is one unit); *literal
// says whether it is a string literal.
size_t SqlPartEnd(const std::u16string& units, size_t i, bool* literal) {
  const size_t n = units.size();
  auto until = [&](size_t from, char16_t close) {
    for (size_t j = from; j < n; ++j) {
      if (units[j] != close) continue;
      if (close == u'\'' && j + 1 < n && units[j + 1] == u'\'') {
        ++j;  // '' inside a literal
        continue;
      }
      return j + 1;
    }
    return n;
  };
  *literal = false;
  const char16_t c = units[i];
  const char16_t next = i + 1 < n ? units[i + 1] : 0;
  if (c == u'\'') {
    *literal = true;
    return until(i + 1, u'\'');
  }
  if (c == u'"') return until(i + 1, u'"');
  if (c == u'[') return until(i + 1, u']');
  if (c == u'-' && next == u'-') return until(i + 2, u'\n');
  if (c == u'/' && next == u'*') {
    for (size_t j = i + 2; j + 1 < n; ++j) {
      if (units[j] == u'*' && units[j + 1] == u'/') return j + 2;
    }
    return n;
  }
  return i + 1;
}

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

namespace venuedb {

std::string Cp1252ToUtf16(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    const uint16_t unit = Cp1252Unit(static_cast<unsigned char>(c));
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

bool Utf16ToCp1252(const std::string& utf16, std::string* text) {
  text->clear();
  bool clean = utf16.size() % 2 == 0;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const uint16_t unit =
        static_cast<uint16_t>(static_cast<unsigned char>(utf16[i]) |
                              (static_cast<unsigned char>(utf16[i + 1]) << 8));
    unsigned char b;
    if (!Cp1252Byte(unit, &b)) {
      b = '?';
      clean = false;
    }
    text->push_back(static_cast<char>(b));
  }
  if (utf16.size() % 2 != 0) text->push_back('?');
  return clean;
}

bool Charset::Utf16ToText(const std::string& utf16, CodePage page,
                          std::string* text) {
  return page == CodePage::kCp1252 ? Utf16ToCp1252(utf16, text)
                                   : Utf16ToGb(utf16, text);
}

std::string Charset::TextToUtf16(const std::string& text, CodePage page) {
  return page == CodePage::kCp1252 ? Cp1252ToUtf16(text) : GbToUtf16(text);
}

void Charset::SqlFromUtf16(const std::string& utf16, std::string* sql) {
  const CodePage page = collation_->code_page;
  std::u16string units(utf16.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(
        static_cast<unsigned char>(utf16[2 * i]) |
        (static_cast<unsigned char>(utf16[2 * i + 1]) << 8));
  }
  sql->clear();
  std::string part;
  size_t plain_start = 0;  // the first unit not yet converted
  auto flush = [&](size_t end, bool literal) {
    const std::string bytes =
        utf16.substr(2 * plain_start, 2 * (end - plain_start));
    if (literal) {
      Utf16ToText(bytes, page, &part);
    } else {
      Utf16ToGb(bytes, &part);
    }
    *sql += part;
    plain_start = end;
  };
  for (size_t i = 0; i < units.size();) {
    bool literal = false;
    const size_t end = SqlPartEnd(units, i, &literal);
    if (literal) {
      const bool n_prefix = i > 0 &&
                            (units[i - 1] == u'N' || units[i - 1] == u'n') &&
                            (i == 1 || !IsNameUnit(units[i - 2]));
      flush(n_prefix ? i - 1 : i, false);
      plain_start = i;
      flush(end, true);
    }
    i = end;
  }
  flush(units.size(), false);
  if (utf16.size() % 2 != 0) sql->push_back('?');
}

}  // namespace venuedb
