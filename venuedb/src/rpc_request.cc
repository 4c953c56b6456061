#include "rpc_request.h"

#include <cstdio>
#include <cstring>

#include "sql_types.h"
#include "wire.h"

namespace venuedb {

namespace {

int64_t SignedLe(const std::string& bytes) {
  uint64_t v = 0;
  for (size_t i = 0; i < bytes.size() && i < 8; ++i) {
    v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
  }
  if (bytes.size() < 8 && !bytes.empty() && (bytes.back() & 0x80)) {
    v |= ~0ull << (8 * bytes.size());
  }
  return static_cast<int64_t>(v);
}

Value IntValue(const std::string& bytes, bool is_null) {
  if (is_null) return Value::Null();
  // A one-byte integer is a tinyint, 0 to 255.
  if (bytes.size() == 1) return Value::Int(static_cast<uint8_t>(bytes[0]));
  return Value::Int(SignedLe(bytes));
}

Value FloatValue(const std::string& bytes, bool is_null) {
  if (is_null) return Value::Null();
  Value v;
  v.kind = Value::kReal;
  if (bytes.size() == 8) {
    std::memcpy(&v.real, bytes.data(), 8);
  } else if (bytes.size() == 4) {
    float f;
    std::memcpy(&f, bytes.data(), 4);
    v.real = f;
  }
  return v;
}

// Reads a partially length-prefixed (PLP) value: total length, then chunks
// until a zero one. A known total must match the chunks.
bool ReadPlp(ByteReader* r, std::string* out, bool* is_null) {
  constexpr uint64_t kNullLength = ~0ull;
  constexpr uint64_t kUnknownLength = ~0ull - 1;
  uint64_t total = r->U64();
  *is_null = total == kNullLength;
  out->clear();
  if (*is_null) return !r->failed();
  for (;;) {
    uint32_t chunk = r->U32();
    if (r->failed()) return false;
    if (chunk == 0) break;
    out->append(r->Bytes(chunk));
    if (r->failed()) return false;
  }
  return total == kUnknownLength || total == out->size();
}

// The lengths a nullable fixed-size type may declare; a value is NULL (length
// 0) or has one of them, never more than the declared one.
bool AllowedLength(uint8_t type_code, uint32_t length) {
  switch (type_code) {
    case type::kIntN:
      return length == 1 || length == 2 || length == 4 || length == 8;
    case type::kBitN:
      return length == 1;
    case type::kFloatN:
    case type::kDateTimeN:
    case type::kMoneyN:
      return length == 4 || length == 8;
  }
  return false;
}

// The names of the procedures a client may call by id (NameLenProcID 0xFFFF).
const char* WellKnownProcedure(uint16_t id) {
  static const char* const kNames[] = {nullptr,
                                       "sp_cursor",
                                       "sp_cursoropen",
                                       "sp_cursorprepare",
                                       "sp_cursorexecute",
                                       "sp_cursorprepexec",
                                       "sp_cursorunprepare",
                                       "sp_cursorfetch",
                                       "sp_cursoroption",
                                       "sp_cursorclose",
                                       "sp_executesql",
                                       "sp_prepare",
                                       "sp_execute",
                                       "sp_prepexec",
                                       "sp_prepexecrpc",
                                       "sp_unprepare"};
  return id < sizeof kNames / sizeof kNames[0] ? kNames[id] : nullptr;
}

// Status bits of a parameter.
constexpr uint8_t kByReference = 0x01;
constexpr uint8_t kDefaultValue = 0x02;
constexpr uint8_t kEncrypted = 0x08;
// Lengths that mark NULL.
constexpr uint16_t kNullShortLength = 0xFFFF;
constexpr uint32_t kNullLongLength = 0xFFFFFFFF;
// A short text's maximum length that says its value comes in chunks (PLP).
constexpr uint16_t kChunkedMaxLength = 0xFFFF;
constexpr size_t kCollationSize = 5;
constexpr uint32_t kMaxShortLength = 8000;

// Reads one parameter, step by step: its name, status and type byte, then its
// value by the type's family. Every refusal names the parameter.
class ParamReader {
 public:
  // number is the parameter's 1-based position, for messages.
  ParamReader(ByteReader* r, Charset* charset, size_t number, RpcParam* p,
              std::string* error)
      : r_(r), charset_(charset), number_(number), p_(p), error_(error) {}

  bool Read() {
    if (!ReadHeader()) return false;
    if (!ReadValue()) return false;
    if (r_->failed()) return Refuse("truncated");
    return true;
  }

 private:
  bool ReadHeader() {
    const uint8_t name_units = r_->U8();
    charset_->Utf16ToGb(r_->Bytes(name_units * 2u), &p_->name);
    const uint8_t status = r_->U8();
    p_->output = (status & kByReference) != 0;
    p_->use_default = (status & kDefaultValue) != 0;
    p_->type_code = r_->U8();
    if (r_->failed()) return Refuse("truncated");
    if (status & kEncrypted)
      return Refuse("encrypted values are not supported");
    return true;
  }

  bool ReadValue() {
    switch (p_->type_code) {
      case type::kInt1:
      case type::kBit:
        return FixedInteger(1);
      case type::kInt2:
        return FixedInteger(2);
      case type::kInt4:
        return FixedInteger(4);
      case type::kInt8:
        return FixedInteger(8);
      case type::kIntN:
      case type::kBitN:
        return NullableInteger();
      case type::kFloat4:
        return FixedFloat(4);
      case type::kFloat8:
        return FixedFloat(8);
      case type::kFloatN:
        return NullableFloat();
      case type::kDateTime:
      case type::kDateTime4:
      case type::kDateTimeN:
        return DateTime();
      case type::kMoney:
      case type::kMoney4:
      case type::kMoneyN:
        return Money();
      case type::kNumericN:
      case type::kDecimalN:
        return Decimal();
      case type::kBigVarChar:
      case type::kBigChar:
      case type::kNVarChar:
      case type::kNChar:
      case type::kBigVarBinary:
      case type::kBigBinary:
        return ShortText();
      case type::kText:
      case type::kNText:
        return LongText();
    }
    return Refuse("not supported");
  }

  // INT1, BIT, INT2, INT4, INT8: `size` bytes, never NULL. A one-byte integer
  // is a tinyint or a bit, 0 to 255.
  bool FixedInteger(size_t size) {
    const std::string bytes = Fixed(size);
    p_->kind = "int";
    p_->value =
        size == 1
            ? Value::Int(static_cast<uint8_t>(bytes.empty() ? 0 : bytes[0]))
            : IntValue(bytes, false);
    p_->return_type.type = size == 8 ? WireType::kInt8 : WireType::kInt4;
    return true;
  }

  bool NullableInteger() {
    std::string bytes;
    bool is_null = false;
    if (!ByteLength(&bytes, &is_null)) return false;
    p_->kind = "int";
    p_->value = IntValue(bytes, is_null);
    p_->return_type.type =
        p_->max_length == 8 ? WireType::kInt8 : WireType::kInt4;
    return true;
  }

  bool FixedFloat(size_t size) {
    p_->kind = "float";
    p_->value = FloatValue(Fixed(size), false);
    p_->return_type.type = WireType::kFloat8;
    return true;
  }

  bool NullableFloat() {
    std::string bytes;
    bool is_null = false;
    if (!ByteLength(&bytes, &is_null)) return false;
    p_->kind = "float";
    p_->value = FloatValue(bytes, is_null);
    p_->return_type.type = WireType::kFloat8;
    return true;
  }

  // DATETIME (8 bytes), DATETIM4 (4 bytes) or DATETIMN (NULL, 4 or 8
  // bytes), as text.
  bool DateTime() {
    std::string bytes;
    bool is_null = false;
    if (p_->type_code == type::kDateTime) {
      bytes = Fixed(8);
    } else if (p_->type_code == type::kDateTime4) {
      bytes = Fixed(4);
    } else if (!ByteLength(&bytes, &is_null)) {
      return false;
    }
    p_->kind = "datetime";
    if (is_null) {
      p_->value = Value::Null();
    } else if (bytes.size() == 8) {
      // Days since 1900-01-01, then 1/300 s ticks since midnight.
      const auto ticks = static_cast<uint32_t>(SignedLe(bytes.substr(4, 4)));
      p_->value = Value::Text(
          DateTimeText(static_cast<int32_t>(SignedLe(bytes.substr(0, 4))),
                       static_cast<uint32_t>((ticks * 10ull + 1) / 3)));
    } else if (bytes.size() == 4) {
      // Unsigned days since 1900-01-01, then minutes since midnight.
      const uint16_t days = static_cast<uint16_t>(SignedLe(bytes.substr(0, 2)));
      const uint16_t minutes =
          static_cast<uint16_t>(SignedLe(bytes.substr(2, 2)));
      p_->value = Value::Text(DateTimeText(days, minutes * 60000u));
    }
    p_->return_type.type = WireType::kVarchar;
    p_->return_type.max_length = 30;
    return true;
  }

  // MONEY (8 bytes: high 4, low 4), MONEY4 (4 bytes) or MONEYN (NULL, 4 or
  // 8): units of 1/10000, as a decimal text with four places.
  bool Money() {
    std::string bytes;
    bool is_null = false;
    if (p_->type_code == type::kMoney) {
      bytes = Fixed(8);
    } else if (p_->type_code == type::kMoney4) {
      bytes = Fixed(4);
    } else if (!ByteLength(&bytes, &is_null)) {
      return false;
    }
    p_->kind = "money";
    p_->return_type.type = bytes.size() == 4 || p_->max_length == 4
                               ? WireType::kMoney4
                               : WireType::kMoney;
    // A value cut short by the end of the request reads as empty; the parse
    // then fails on the reader's state.
    if (is_null || (bytes.size() != 4 && bytes.size() != 8)) {
      p_->value = Value::Null();
      return true;
    }
    const int64_t units =
        bytes.size() == 4
            ? SignedLe(bytes)
            : static_cast<int64_t>(
                  (static_cast<uint64_t>(SignedLe(bytes.substr(0, 4))) << 32) |
                  static_cast<uint32_t>(SignedLe(bytes.substr(4, 4))));
    const uint64_t magnitude = units < 0 ? 0 - static_cast<uint64_t>(units)
                                         : static_cast<uint64_t>(units);
    char text[48];
    std::snprintf(text, sizeof text, "%s%llu.%04llu", units < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000),
                  static_cast<unsigned long long>(magnitude % 10000));
    p_->value = Value::Text(text);
    return true;
  }

  // NUMERICN and DECIMALN: maximum length, precision, scale; then a length
  // (0 for NULL), the sign (1 positive) and the magnitude little-endian, as
  // a decimal text with `scale` places.
  bool Decimal() {
    p_->max_length = r_->U8();
    const uint8_t precision = r_->U8();
    const uint8_t scale = r_->U8();
    const uint8_t length = r_->U8();
    if (r_->failed()) return Refuse("truncated");
    if (precision < 1 || precision > 38 || scale > precision ||
        p_->max_length < 5 || p_->max_length > 17 ||
        (length != 0 && (length < 2 || length > p_->max_length))) {
      return Refuse("invalid precision, scale or length");
    }
    const std::string bytes = r_->Bytes(length);
    p_->kind = "numeric";
    p_->return_type.type = p_->type_code == type::kNumericN
                               ? WireType::kNumeric
                               : WireType::kDecimal;
    p_->return_type.precision = precision;
    p_->return_type.scale = scale;
    if (length == 0) {
      p_->value = Value::Null();
      return true;
    }
    unsigned __int128 magnitude = 0;
    for (size_t i = bytes.size(); i > 1; --i) {
      magnitude = magnitude << 8 | static_cast<uint8_t>(bytes[i - 1]);
    }
    std::string digits;
    do {
      digits.insert(digits.begin(),
                    static_cast<char>('0' + static_cast<int>(magnitude % 10)));
      magnitude /= 10;
    } while (magnitude != 0);
    if (digits.size() <= scale)
      digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, ".");
    p_->value = Value::Text((bytes[0] == 0 ? "-" : "") + digits);
    return true;
  }

  // The texts and binaries with a 2-byte maximum length: up to 8000 bytes in
  // one piece, or any length in chunks (maximum length 0xFFFF).
  bool ShortText() {
    p_->max_length = r_->U16();
    const bool binary = p_->type_code == type::kBigVarBinary ||
                        p_->type_code == type::kBigBinary;
    const bool wide =
        p_->type_code == type::kNVarChar || p_->type_code == type::kNChar;
    const bool chunked = p_->max_length == kChunkedMaxLength;
    if (!binary) r_->Skip(kCollationSize);
    if (!chunked && p_->max_length > kMaxShortLength)
      return Refuse("maximum length > 8000");
    std::string bytes;
    bool is_null = false;
    if (chunked) {
      if (!ReadPlp(r_, &bytes, &is_null))
        return Refuse("chunks do not match the length");
    } else {
      const uint16_t length = r_->U16();
      is_null = length == kNullShortLength;
      if (!is_null && length > p_->max_length)
        return Refuse("value longer than its maximum length");
      if (!is_null) bytes = r_->Bytes(length);
    }
    if (wide &&
        (bytes.size() % 2 != 0 || (!chunked && p_->max_length % 2 != 0))) {
      return Refuse("odd length of a UTF-16 text");
    }
    p_->kind = binary ? "binary" : "varchar";
    p_->value = TextValue(bytes, is_null, wide);
    p_->return_type.type = wide ? WireType::kNVarchar : WireType::kVarchar;
    p_->return_type.max_length =
        chunked ? kMaxShortLength : static_cast<uint16_t>(p_->max_length);
    return true;
  }

  // TEXT and NTEXT: a 4-byte maximum length, a collation and a 4-byte length.
  bool LongText() {
    p_->max_length = r_->U32();
    r_->Skip(kCollationSize);
    const uint32_t length = r_->U32();
    const bool is_null = length == kNullLongLength;
    const std::string bytes = is_null ? std::string() : r_->Bytes(length);
    const bool wide = p_->type_code == type::kNText;
    if (wide && bytes.size() % 2 != 0)
      return Refuse("odd length of a UTF-16 text");
    p_->kind = "varchar";
    p_->value = TextValue(bytes, is_null, wide);
    p_->return_type.type = WireType::kVarchar;
    p_->return_type.max_length = kMaxShortLength;
    return true;
  }

  std::string Fixed(size_t size) {
    p_->max_length = static_cast<uint32_t>(size);
    return r_->Bytes(size);
  }

  // A nullable fixed-size value: its maximum length, then its length (0 for
  // NULL), each one the type allows, the value no longer than the maximum.
  bool ByteLength(std::string* bytes, bool* is_null) {
    p_->max_length = r_->U8();
    const uint8_t length = r_->U8();
    *is_null = length == 0;
    if (!AllowedLength(p_->type_code, p_->max_length) ||
        (!*is_null &&
         (!AllowedLength(p_->type_code, length) || length > p_->max_length))) {
      return Refuse("invalid data length or metadata length");
    }
    *bytes = r_->Bytes(length);
    return true;
  }

  Value TextValue(const std::string& bytes, bool is_null, bool wide) {
    if (is_null) return Value::Null();
    if (!wide) return Value::Text(bytes);
    std::string text;
    charset_->Utf16ToText(bytes, charset_->collation()->code_page, &text);
    return Value::Text(text);
  }

  bool Refuse(const std::string& what) {
    char prefix[96];
    std::snprintf(prefix, sizeof prefix,
                  "parameter %zu (\"%s\"), type 0x%02X: ", number_,
                  p_->name.substr(0, 40).c_str(), p_->type_code);
    *error_ = prefix + what;
    return false;
  }

  ByteReader* r_;
  Charset* charset_;
  size_t number_;
  RpcParam* p_;
  std::string* error_;
};

bool ReadParam(ByteReader* r, Charset* charset, size_t number, RpcParam* p,
               std::string* error) {
  return ParamReader(r, charset, number, p, error).Read();
}

}  // namespace

std::string SentTypeName(const RpcParam& p) {
  // A batch's EXEC argument has no wire type: its literal's kind names it.
  if (p.type_code == 0) return p.kind.empty() ? "varchar" : p.kind;
  switch (p.type_code) {
    case type::kInt1:
      return "tinyint";
    case type::kInt2:
      return "smallint";
    case type::kInt4:
      return "int";
    case type::kInt8:
      return "bigint";
    case type::kIntN:
      return p.max_length == 1   ? "tinyint"
             : p.max_length == 2 ? "smallint"
             : p.max_length == 8 ? "bigint"
                                 : "int";
    case type::kBit:
    case type::kBitN:
      return "bit";
    case type::kFloat4:
      return "real";
    case type::kFloat8:
      return "float";
    case type::kFloatN:
      return p.max_length == 4 ? "real" : "float";
    case type::kNumericN:
      return "numeric";
    case type::kDecimalN:
      return "decimal";
    case type::kMoney4:
      return "smallmoney";
    case type::kMoney:
      return "money";
    case type::kMoneyN:
      return p.max_length == 4 ? "smallmoney" : "money";
    case type::kDateTime4:
      return "smalldatetime";
    case type::kDateTime:
    case type::kDateTimeN:
      return p.max_length == 4 ? "smalldatetime" : "datetime";
    case type::kBigChar:
      return "char";
    case type::kNChar:
      return "nchar";
    case type::kNVarChar:
      return "nvarchar";
    case type::kText:
      return "text";
    case type::kNText:
      return "ntext";
    case type::kBigVarBinary:
      return "varbinary";
    case type::kBigBinary:
      return "binary";
    default:
      return "varchar";
  }
}

bool ParseRpc(const std::string& payload, bool tds72, Charset* charset,
              RpcRequest* request, std::string* error) {
  ByteReader r(payload);
  if (tds72) {
    uint32_t headers = r.U32();
    if (r.failed() || headers < 4 || headers > payload.size()) {
      *error = "bad ALL_HEADERS";
      return false;
    }
    r.Skip(headers - 4);
  }
  uint16_t name_units = r.U16();
  if (name_units == 0xFFFF) {
    request->proc_id = r.U16();
    const char* name = WellKnownProcedure(request->proc_id);
    if (name) request->name = name;
  } else {
    charset->Utf16ToGb(r.Bytes(name_units * 2u), &request->name);
  }
  r.U16();  // option flags
  if (r.failed()) {
    *error = "truncated RPC header";
    return false;
  }
  // Where a parameter could start, this byte separates one call from the next
  // (0xFE also asks that the next one not run); before TDS 7.2 it was 0x80,
  // which later versions read as a 128-character name.
  auto separates = [tds72](uint8_t b) {
    return tds72 ? b == 0xFF || b == 0xFE : b == 0x80;
  };
  while (r.remaining() > 0) {
    if (separates(r.Peek())) {
      r.U8();
      if (r.remaining() > 0) {
        *error = "only one procedure call per request is supported";
        return false;
      }
      break;
    }
    RpcParam p;
    if (!ReadParam(&r, charset, request->params.size() + 1, &p, error)) {
      return false;
    }
    request->params.push_back(std::move(p));
  }
  return true;
}

}  // namespace venuedb
