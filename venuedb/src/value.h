// A value as the server handles it between SQLite and the wire.
#ifndef VENUEDB_SRC_VALUE_H_
#define VENUEDB_SRC_VALUE_H_

#include <cstdint>
#include <string>

namespace venuedb {

struct Value {
  enum Kind { kNull, kInt, kReal, kText };
  Kind kind = kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // bytes as stored (GB18030 for converted texts)

  static Value Null() { return Value(); }
  static Value Int(int64_t v) {
    Value out;
    out.kind = kInt;
    out.integer = v;
    return out;
  }
  static Value Text(std::string v) {
    Value out;
    out.kind = kText;
    out.text = std::move(v);
    return out;
  }
  bool is_null() const { return kind == kNull; }
  // The value as an integer the way SQLite would read it (text parsed, NULL as
  // 0).
  int64_t AsInt() const;
  // The value as text bytes (integers in decimal, NULL as empty).
  std::string AsText() const;
};

}  // namespace venuedb

#endif  // VENUEDB_SRC_VALUE_H_
