// SQL literals for tests that build venue data in venuedb's SQLite database
// (VenueServer::Exec and Query). Bytes are kept as they are: no conversion of
// code page 936 texts.
#ifndef RONDEL_TESTS_SUPPORT_SQL_TEXT_H_
#define RONDEL_TESTS_SUPPORT_SQL_TEXT_H_

#include <string>

namespace rondel {
namespace testing {

// A SQL text literal: 'text' with each quote doubled.
inline std::string Sql(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// A SQL text made of exact bytes (for GBK texts): CAST(X'..' AS TEXT).
inline std::string SqlBytes(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "CAST(X'";
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out + "' AS TEXT)";
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_SQL_TEXT_H_
