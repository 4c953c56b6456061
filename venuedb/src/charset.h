// Conversions between the wire's UTF-16LE and the database's GB18030 bytes.
// Texts are stored exactly as the venue writes them (code page 936 bytes); only
// what the client sends as UTF-16 (SQL text, NVARCHAR parameters) and what the
// server says in UTF-16 (messages, column and parameter names) is converted.
#ifndef VENUEDB_SRC_CHARSET_H_
#define VENUEDB_SRC_CHARSET_H_

#include <iconv.h>

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

}  // namespace venuedb

#endif  // VENUEDB_SRC_CHARSET_H_
