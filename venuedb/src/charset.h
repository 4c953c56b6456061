// Conversions between the wire's UTF-16LE and the database's GB18030 bytes.
// Texts are stored exactly as the venue writes them (code page 936 bytes); only
// what the client sends as UTF-16 (SQL text, NVARCHAR parameters) and what the
// server says in UTF-16 (messages, column and parameter names) is converted.
#ifndef VENUEDB_SRC_CHARSET_H_
#define VENUEDB_SRC_CHARSET_H_

#include <iconv.h>

#include <cstddef>
#include <string>

namespace venuedb {

// One pair of iconv handles. Not thread-safe: each connection owns its own.
class Charset {
 public:
  Charset();
  ~Charset();
  Charset(const Charset&) = delete;
  Charset& operator=(const Charset&) = delete;

  // UTF-16LE to GB18030. Returns false (and converts what it can, with '?' for
  // the rest) when the input holds an unpaired surrogate or an odd byte.
  bool Utf16ToGb(const std::string& utf16, std::string* gb);
  // GB18030 to UTF-16LE; an invalid byte becomes '?'.
  std::string GbToUtf16(const std::string& gb);

 private:
  bool Convert(iconv_t cd, const std::string& in, size_t unit,
               const std::string& bad, std::string* out);
  iconv_t to_gb_;
  iconv_t from_gb_;
};

// The length of the longest prefix of text[0, size) that is at most max_bytes
// long and ends on a whole GB18030 character: a byte below 0x81; a lead byte
// 0x81-0xFE with a trail byte 0x40-0x7E or 0x80-0xFE; or the four-byte form
// lead, 0x30-0x39, lead, 0x30-0x39. A byte that starts no such character
// counts as one. Returns size when size <= max_bytes.
//   Gb18030PrefixLength("a\xD6\xDC", 3, 2) == 1
size_t Gb18030PrefixLength(const char* text, size_t size, size_t max_bytes);

}  // namespace venuedb

#endif  // VENUEDB_SRC_CHARSET_H_
