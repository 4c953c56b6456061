// Conversions between the wire's UTF-16LE and the bytes the database keeps.
// Texts are stored exactly as the venue writes them, in the code page of the
// database's collation (GB18030 by default; CP1252 for a Latin-1 one, see
// collation.h); only what the client sends as UTF-16 (SQL text, NVARCHAR
// parameters) and what the server says in UTF-16 (messages, column and
// parameter names) is converted. The server's own texts (names, messages,
// the journal's SQL outside string literals) are GB18030 whatever the
// collation.
#ifndef VENUEDB_SRC_CHARSET_H_
#define VENUEDB_SRC_CHARSET_H_

#include <iconv.h>

#include <cstddef>
#include <string>

#include "collation.h"

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

  // The database's default collation (kDefaultCollation until set). c must
  // outlive this object (the collation table's entries do).
  void set_collation(const Collation* c) { collation_ = c; }
  const Collation* collation() const { return collation_; }

  // UTF-16LE to texts in page, and back, as the Gb functions above do for
  // GB18030 (CP1252: see Utf16ToCp1252 and Cp1252ToUtf16).
  bool Utf16ToText(const std::string& utf16, CodePage page, std::string* text);
  std::string TextToUtf16(const std::string& text, CodePage page);

  // A SQL text as the server runs it: string literals ('...', N'...') in the
  // database collation's code page, the rest in GB18030, so that a literal
  // is stored as the database's texts are. A literal's N prefix is dropped
  // (SQLite knows none): N'abc' runs as 'abc'. Quotes inside comments,
  // "names" and [names] open no literal.
  void SqlFromUtf16(const std::string& utf16, std::string* sql);

 private:
  bool Convert(iconv_t cd, const std::string& in, size_t unit,
               const std::string& bad, std::string* out);
  iconv_t to_gb_;
  iconv_t from_gb_;
  const Collation* collation_ = &kDefaultCollation;
};

// CP1252 as Windows maps it: 0x80-0x9F to the punctuation, letters and the
// euro sign of that range, the five bytes it leaves unassigned (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) to U+0081 and so on, every other byte to the same code
// point. So every byte string goes to UTF-16 and back unchanged. Back from
// UTF-16, U+0080-U+009F are the bytes 0x80-0x9F; a code unit outside the page
// becomes '?' (the result is then false).
std::string Cp1252ToUtf16(const std::string& text);
bool Utf16ToCp1252(const std::string& utf16, std::string* text);

// The length of the longest prefix of text[0, size) that is at most max_bytes
// long and ends on a whole GB18030 character: a byte below 0x81; a lead byte
// 0x81-0xFE with a trail byte 0x40-0x7E or 0x80-0xFE; or the four-byte form
// lead, 0x30-0x39, lead, 0x30-0x39. A byte that starts no such character
// counts as one. Returns size when size <= max_bytes.
//   Gb18030PrefixLength("a\xD6\xDC", 3, 2) == 1
size_t Gb18030PrefixLength(const char* text, size_t size, size_t max_bytes);

}  // namespace venuedb

#endif  // VENUEDB_SRC_CHARSET_H_
