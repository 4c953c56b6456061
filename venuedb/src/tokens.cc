#include "tokens.h"

#include <cstring>

#include "charset.h"
#include "sql_types.h"

namespace venuedb {

const uint8_t kCollation[5] = {0x04, 0x08, 0xD0, 0x00, 0x00};

namespace {

// The size in bytes of a fixed-size kind; 0 for the text kinds.
size_t NumericSize(WireType type) {
  switch (type) {
    case WireType::kInt1:
    case WireType::kBit:
      return 1;
    case WireType::kInt2:
      return 2;
    case WireType::kInt4:
    case WireType::kFloat4:
    case WireType::kMoney4:
    case WireType::kDateTime4:
      return 4;
    case WireType::kInt8:
    case WireType::kFloat8:
    case WireType::kMoney:
    case WireType::kDateTime:
      return 8;
    default:
      return 0;
  }
}

// The fixed-length type byte of a non-nullable fixed-size kind, and the
// nullable type byte of the same.
uint8_t FixedType(WireType kind) {
  switch (kind) {
    case WireType::kInt1:
      return type::kInt1;
    case WireType::kInt2:
      return type::kInt2;
    case WireType::kInt4:
      return type::kInt4;
    case WireType::kInt8:
      return type::kInt8;
    case WireType::kBit:
      return type::kBit;
    case WireType::kFloat4:
      return type::kFloat4;
    case WireType::kMoney:
      return type::kMoney;
    case WireType::kMoney4:
      return type::kMoney4;
    case WireType::kDateTime:
      return type::kDateTime;
    case WireType::kDateTime4:
      return type::kDateTime4;
    default:
      return type::kFloat8;
  }
}

uint8_t NullableType(WireType kind) {
  switch (kind) {
    case WireType::kBit:
      return type::kBitN;
    case WireType::kFloat4:
    case WireType::kFloat8:
      return type::kFloatN;
    case WireType::kMoney:
    case WireType::kMoney4:
      return type::kMoneyN;
    case WireType::kDateTime:
    case WireType::kDateTime4:
      return type::kDateTimeN;
    default:
      return type::kIntN;
  }
}

bool IsPlp(WireType type) {
  return type == WireType::kVarcharMax || type == WireType::kNVarcharMax;
}

bool IsLongText(WireType type) {
  return type == WireType::kText || type == WireType::kNText;
}

bool IsDecimal(WireType type) {
  return type == WireType::kNumeric || type == WireType::kDecimal;
}

// The value length of a numeric(p, s): sign byte and magnitude.
uint8_t DecimalLength(uint8_t precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// A text pointer and timestamp for TEXT and NTEXT values: any 16 bytes do
// for a client that only reads.
const uint8_t kTextPointer[16] = {1, 1, 1, 1, 1, 1, 1, 1,
                                  1, 1, 1, 1, 1, 1, 1, 1};
const uint8_t kTextTimestamp[8] = {0, 0, 0, 0, 0, 0, 0, 0};

void PutTypeInfo(ByteWriter* w, bool tds72, const ColumnInfo& c) {
  const size_t size = NumericSize(c.type);
  if (size != 0) {
    if (!c.nullable) {
      w->U8(FixedType(c.type));
      return;
    }
    w->U8(NullableType(c.type));
    w->U8(static_cast<uint8_t>(size));
    return;
  }
  if (IsDecimal(c.type)) {
    w->U8(c.type == WireType::kNumeric ? type::kNumericN : type::kDecimalN);
    w->U8(DecimalLength(c.precision));
    w->U8(c.precision);
    w->U8(c.scale);
    return;
  }
  if (IsLongText(c.type)) {
    w->U8(c.type == WireType::kText ? type::kText : type::kNText);
    w->U32(c.type == WireType::kText ? 0x7FFFFFFF : 0x7FFFFFFE);
    w->Raw(c.collation->bytes, sizeof c.collation->bytes);
    if (tds72) {
      // The table's name in parts (none for a computed column).
      w->U8(c.table_utf16.empty() ? 0 : 1);
      if (!c.table_utf16.empty()) w->UsVarchar(c.table_utf16);
    } else {
      w->UsVarchar(c.table_utf16);
    }
    return;
  }
  switch (c.type) {
    case WireType::kVarchar:
      w->U8(type::kBigVarChar);
      break;
    case WireType::kChar:
      w->U8(type::kBigChar);
      break;
    case WireType::kNChar:
      w->U8(type::kNChar);
      break;
    case WireType::kVarcharMax:
      w->U8(type::kBigVarChar);
      break;
    default:
      w->U8(type::kNVarChar);
      break;
  }
  w->U16(IsPlp(c.type) ? 0xFFFF : c.max_length);
  w->Raw(c.collation->bytes, sizeof c.collation->bytes);
}

double AsDouble(const Value& v) {
  return v.kind == Value::kReal ? v.real : static_cast<double>(v.AsInt());
}

// A numeric(p, s) value: length, sign (1 positive), magnitude little-endian.
void PutDecimalValue(ByteWriter* w, const ColumnInfo& c, const Value& v) {
  unsigned __int128 magnitude = 0;
  bool negative = false;
  ScaledDecimal(v, c.scale, &magnitude, &negative);
  const uint8_t length = DecimalLength(c.precision);
  w->U8(length);
  w->U8(negative ? 0 : 1);
  for (uint8_t i = 1; i < length; ++i) {
    w->U8(static_cast<uint8_t>(magnitude));
    magnitude >>= 8;
  }
}

void PutMoneyValue(ByteWriter* w, const ColumnInfo& c, const Value& v) {
  unsigned __int128 magnitude = 0;
  bool negative = false;
  ScaledDecimal(v, 4, &magnitude, &negative);
  int64_t units = static_cast<int64_t>(magnitude);
  if (negative) units = -units;
  if (c.type == WireType::kMoney4) {
    if (c.nullable) w->U8(4);
    w->U32(static_cast<uint32_t>(units));
    return;
  }
  if (c.nullable) w->U8(8);
  w->U32(static_cast<uint32_t>(static_cast<uint64_t>(units) >> 32));
  w->U32(static_cast<uint32_t>(units));
}

void PutDateTimeValue(ByteWriter* w, const ColumnInfo& c, const Value& v) {
  int32_t days = 0;
  uint32_t ms = 0;
  ParseDateTimeValue(v, &days, &ms);
  if (c.type == WireType::kDateTime4) {
    // Minutes: 29.998 seconds round down, 29.999 up, as SQL Server rounds.
    uint32_t minutes = (ms + 30001) / 60000;
    if (minutes >= 24 * 60) {
      minutes -= 24 * 60;
      ++days;
    }
    if (c.nullable) w->U8(4);
    w->U16(static_cast<uint16_t>(days));
    w->U16(static_cast<uint16_t>(minutes));
    return;
  }
  // 1/300 s ticks, rounded to the nearest.
  uint64_t ticks = (static_cast<uint64_t>(ms) * 300 + 500) / 1000;
  if (ticks >= 300ull * 86400) {
    ticks -= 300ull * 86400;
    ++days;
  }
  if (c.nullable) w->U8(8);
  w->U32(static_cast<uint32_t>(days));
  w->U32(static_cast<uint32_t>(ticks));
}

// A text of a N kind, already UTF-16LE, cut to max bytes without splitting a
// code unit.
std::string Utf16Prefix(const std::string& text, size_t max) {
  size_t size = text.size() < max ? text.size() : max;
  size &= ~static_cast<size_t>(1);
  return text.substr(0, size);
}

void PutTextValue(ByteWriter* w, const ColumnInfo& c, const std::string& text) {
  switch (c.type) {
    case WireType::kChar:
      PutCharValue(w, text.data(), text.size(), c.max_length);
      break;
    case WireType::kVarchar:
      PutBytesValue(w, text.data(), text.size(), c.max_length);
      break;
    case WireType::kNVarchar: {
      const std::string cut = Utf16Prefix(text, c.max_length);
      w->U16(static_cast<uint16_t>(cut.size()));
      w->Raw(cut);
      break;
    }
    case WireType::kNChar: {
      const std::string cut = Utf16Prefix(text, c.max_length);
      w->U16(c.max_length);
      w->Raw(cut);
      for (size_t i = cut.size(); i + 1 < c.max_length; i += 2) w->U16(' ');
      break;
    }
    case WireType::kText:
    case WireType::kNText:
      w->U8(sizeof kTextPointer);
      w->Raw(kTextPointer, sizeof kTextPointer);
      w->Raw(kTextTimestamp, sizeof kTextTimestamp);
      w->U32(static_cast<uint32_t>(text.size()));
      w->Raw(text);
      break;
    default:  // PLP: the total length, one chunk, the terminator
      w->U64(text.size());
      if (!text.empty()) {
        w->U32(static_cast<uint32_t>(text.size()));
        w->Raw(text);
      }
      w->U32(0);
      break;
  }
}

void PutValue(ByteWriter* w, const ColumnInfo& c, const Value& v) {
  if (v.is_null()) {
    PutNullValue(w, c.type);
    return;
  }
  switch (c.type) {
    case WireType::kInt1:
    case WireType::kInt2:
    case WireType::kInt4:
    case WireType::kInt8:
      PutIntValue(w, c.type, v.AsInt(), c.nullable);
      break;
    case WireType::kBit:
      PutIntValue(w, c.type, AsDouble(v) != 0 ? 1 : 0, c.nullable);
      break;
    case WireType::kFloat8:
      PutFloatValue(w, AsDouble(v), c.nullable);
      break;
    case WireType::kFloat4: {
      const float f = static_cast<float>(AsDouble(v));
      uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      if (c.nullable) w->U8(4);
      w->U32(bits);
      break;
    }
    case WireType::kNumeric:
    case WireType::kDecimal:
      PutDecimalValue(w, c, v);
      break;
    case WireType::kMoney:
    case WireType::kMoney4:
      PutMoneyValue(w, c, v);
      break;
    case WireType::kDateTime:
    case WireType::kDateTime4:
      PutDateTimeValue(w, c, v);
      break;
    default: {
      // A number in a text column travels as its decimal text.
      std::string text = v.kind == Value::kText ? v.text : v.AsText();
      const bool wide =
          c.type == WireType::kNVarchar || c.type == WireType::kNChar ||
          c.type == WireType::kNText || c.type == WireType::kNVarcharMax;
      if (wide && v.kind != Value::kText) text = AsciiToUtf16(text);
      PutTextValue(w, c, text);
      break;
    }
  }
}

}  // namespace

void PutNullValue(ByteWriter* w, WireType type) {
  if (IsPlp(type)) {
    w->U64(~0ull);
  } else if (NumericSize(type) == 0 && !IsDecimal(type) && !IsLongText(type)) {
    w->U16(0xFFFF);
  } else {
    w->U8(0);
  }
}

void PutIntValue(ByteWriter* w, WireType type, int64_t value, bool nullable) {
  const size_t size = NumericSize(type);
  if (nullable) w->U8(static_cast<uint8_t>(size));
  switch (size) {
    case 1:
      w->U8(static_cast<uint8_t>(value));
      break;
    case 2:
      w->U16(static_cast<uint16_t>(value));
      break;
    case 4:
      w->U32(static_cast<uint32_t>(value));
      break;
    default:
      w->U64(static_cast<uint64_t>(value));
      break;
  }
}

void PutFloatValue(ByteWriter* w, double value, bool nullable) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (nullable) w->U8(8);
  w->U64(bits);
}

void PutCharValue(ByteWriter* w, const void* data, size_t size,
                  size_t max_length) {
  size = Gb18030PrefixLength(static_cast<const char*>(data), size, max_length);
  w->U16(static_cast<uint16_t>(max_length));
  w->Raw(data, size);
  for (size_t i = size; i < max_length; ++i) w->U8(' ');
}

void PutBytesValue(ByteWriter* w, const void* data, size_t size,
                   size_t max_length) {
  // Half a character at the end would make the client's conversion fail.
  size = Gb18030PrefixLength(static_cast<const char*>(data), size, max_length);
  w->U16(static_cast<uint16_t>(size));
  w->Raw(data, size);
}

void PutEnvChangeText(ByteWriter* w, uint8_t type, const std::string& new_utf16,
                      const std::string& old_utf16) {
  w->U8(0xE3);
  w->U16(
      static_cast<uint16_t>(1 + 1 + new_utf16.size() + 1 + old_utf16.size()));
  w->U8(type);
  w->BVarchar(new_utf16);
  w->BVarchar(old_utf16);
}

void PutEnvChangeCollation(ByteWriter* w, const Collation& collation) {
  w->U8(0xE3);
  w->U16(1 + 1 + sizeof collation.bytes + 1);
  w->U8(7);
  w->U8(sizeof collation.bytes);
  w->Raw(collation.bytes, sizeof collation.bytes);
  w->U8(0);
}

void PutLoginAck(ByteWriter* w, uint32_t version, const std::string& program) {
  std::string name = AsciiToUtf16(program);
  w->U8(0xAD);
  w->U16(static_cast<uint16_t>(10 + name.size()));
  w->U8(0x01);
  w->U32Be(version);
  w->BVarchar(name);
  // Program version 16.0.1000.0, as a recent server would say.
  w->U8(16);
  w->U8(0);
  w->U8(0x03);
  w->U8(0xE8);
}

void PutDone(ByteWriter* w, bool tds72, DoneToken token, uint16_t status,
             uint16_t command, uint64_t count) {
  w->U8(token);
  w->U16(status);
  w->U16(command);
  if (tds72) {
    w->U64(count);
  } else {
    w->U32(static_cast<uint32_t>(count));
  }
}

void PutMessage(ByteWriter* w, bool tds72, uint8_t token, int32_t number,
                uint8_t state, uint8_t severity,
                const std::string& message_utf16,
                const std::string& server_utf16,
                const std::string& procedure_utf16, int32_t line) {
  std::string message = message_utf16.substr(0, 2 * 4000);
  std::string server = server_utf16.substr(0, 2 * 128);
  std::string procedure = procedure_utf16.substr(0, 2 * 128);
  size_t length = 4 + 1 + 1 + 2 + message.size() + 1 + server.size() + 1 +
                  procedure.size() + (tds72 ? 4 : 2);
  w->U8(token);
  w->U16(static_cast<uint16_t>(length));
  w->U32(static_cast<uint32_t>(number));
  w->U8(state);
  w->U8(severity);
  w->UsVarchar(message);
  w->BVarchar(server);
  w->BVarchar(procedure);
  if (tds72) {
    w->U32(static_cast<uint32_t>(line));
  } else {
    w->U16(static_cast<uint16_t>(line));
  }
}

void PutColMetadata(ByteWriter* w, bool tds72,
                    const std::vector<ColumnInfo>& columns) {
  w->U8(0x81);
  w->U16(static_cast<uint16_t>(columns.size()));
  for (const ColumnInfo& c : columns) {
    if (tds72) {
      w->U32(0);
    } else {
      w->U16(0);
    }
    w->U16(c.nullable ? 0x0001 : 0x0000);
    PutTypeInfo(w, tds72, c);
    w->BVarchar(c.name_utf16);
  }
}

void PutRow(ByteWriter* w, const std::vector<ColumnInfo>& columns,
            const std::vector<Value>& values, bool nbc) {
  static const Value kNull;
  auto value = [&values](size_t i) -> const Value& {
    return i < values.size() ? values[i] : kNull;
  };
  ByteWriter row;
  row.U8(0xD1);
  ByteWriter compressed;
  compressed.U8(0xD2);
  std::string bitmap((columns.size() + 7) / 8, '\0');
  bool any_null = false;
  for (size_t i = 0; i < columns.size(); ++i) {
    PutValue(&row, columns[i], value(i));
    if (value(i).is_null()) {
      bitmap[i / 8] = static_cast<char>(bitmap[i / 8] | (1 << (i % 8)));
      any_null = true;
    }
  }
  if (nbc && any_null) {
    compressed.Raw(bitmap);
    for (size_t i = 0; i < columns.size(); ++i) {
      if (!value(i).is_null()) PutValue(&compressed, columns[i], value(i));
    }
    if (compressed.size() < row.size()) {
      w->Raw(compressed.bytes());
      return;
    }
  }
  w->Raw(row.bytes());
}

void PutReturnStatus(ByteWriter* w, int32_t status) {
  w->U8(0x79);
  w->U32(static_cast<uint32_t>(status));
}

void PutReturnValue(ByteWriter* w, bool tds72, uint16_t ordinal,
                    const std::string& name_utf16, const ColumnInfo& type,
                    const Value& value) {
  ByteWriter body;
  body.U16(ordinal);
  body.BVarchar(name_utf16);
  body.U8(0x01);
  if (tds72) {
    body.U32(0);
  } else {
    body.U16(0);
  }
  body.U16(0x0001);
  PutTypeInfo(&body, tds72, type);
  PutValue(&body, type, value);
  w->U8(0xAC);
  w->Raw(body.bytes());
}

}  // namespace venuedb
