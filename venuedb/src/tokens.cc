#include "tokens.h"

#include <cstring>

#include "charset.h"

namespace venuedb {

const uint8_t kCollation[5] = {0x04, 0x08, 0xD0, 0x00, 0x00};

namespace {

// The size in bytes of a numeric kind; 0 for the text kinds.
size_t NumericSize(WireType type) {
  switch (type) {
    case WireType::kInt1:
      return 1;
    case WireType::kInt2:
      return 2;
    case WireType::kInt4:
      return 4;
    case WireType::kInt8:
    case WireType::kFloat8:
      return 8;
    case WireType::kVarchar:
    case WireType::kChar:
    case WireType::kNVarchar:
      return 0;
  }
  return 0;
}

// The fixed-length type byte of a non-nullable numeric kind.
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
    default:
      return type::kFloat8;
  }
}

void PutTypeInfo(ByteWriter* w, const ColumnInfo& c) {
  const size_t size = NumericSize(c.type);
  if (size != 0) {
    if (!c.nullable) {
      w->U8(FixedType(c.type));
      return;
    }
    w->U8(c.type == WireType::kFloat8 ? type::kFloatN : type::kIntN);
    w->U8(static_cast<uint8_t>(size));
    return;
  }
  w->U8(c.type == WireType::kVarchar ? type::kBigVarChar
        : c.type == WireType::kChar  ? type::kBigChar
                                     : type::kNVarChar);
  w->U16(c.max_length);
  w->Raw(c.collation->bytes, sizeof c.collation->bytes);
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
    case WireType::kFloat8:
      PutFloatValue(
          w, v.kind == Value::kReal ? v.real : static_cast<double>(v.AsInt()),
          c.nullable);
      break;
    case WireType::kChar: {
      std::string text = v.kind == Value::kText ? v.text : v.AsText();
      PutCharValue(w, text.data(), text.size(), c.max_length);
      break;
    }
    case WireType::kVarchar:
    case WireType::kNVarchar:
      if (v.kind == Value::kText && c.type == WireType::kNVarchar) {
        // UTF-16 text is never cut inside a code unit.
        size_t size =
            v.text.size() < c.max_length ? v.text.size() : c.max_length;
        size &= ~static_cast<size_t>(1);
        PutBytesValue(w, v.text.data(), size, size);
      } else if (v.kind == Value::kText) {
        PutBytesValue(w, v.text.data(), v.text.size(), c.max_length);
      } else {
        std::string text = v.AsText();
        if (c.type == WireType::kNVarchar) text = AsciiToUtf16(text);
        PutBytesValue(w, text.data(), text.size(), c.max_length);
      }
      break;
  }
}

}  // namespace

void PutNullValue(ByteWriter* w, WireType type) {
  if (NumericSize(type) == 0) {
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
    PutTypeInfo(w, c);
    w->BVarchar(c.name_utf16);
  }
}

void PutRow(ByteWriter* w, const std::vector<ColumnInfo>& columns,
            const std::vector<Value>& values) {
  w->U8(0xD1);
  for (size_t i = 0; i < columns.size(); ++i) {
    PutValue(w, columns[i], i < values.size() ? values[i] : Value());
  }
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
  PutTypeInfo(&body, type);
  PutValue(&body, type, value);
  w->U8(0xAC);
  w->Raw(body.bytes());
}

}  // namespace venuedb
