#include "tokens.h"

#include <cstring>

#include "charset.h"

namespace venuedb {

const uint8_t kCollation[5] = {0x04, 0x08, 0xD0, 0x00, 0x00};

namespace {

void PutTypeInfo(ByteWriter* w, const ColumnInfo& c) {
  switch (c.type) {
    case WireType::kInt4:
      w->U8(0x26);
      w->U8(4);
      break;
    case WireType::kInt8:
      w->U8(0x26);
      w->U8(8);
      break;
    case WireType::kFloat8:
      w->U8(0x6D);
      w->U8(8);
      break;
    case WireType::kVarchar:
    case WireType::kNVarchar:
      w->U8(c.type == WireType::kVarchar ? 0xA7 : 0xE7);
      w->U16(c.max_length);
      w->Raw(kCollation, sizeof kCollation);
      break;
  }
}

void PutValue(ByteWriter* w, const ColumnInfo& c, const Value& v) {
  if (v.is_null()) {
    PutNullValue(w, c.type);
    return;
  }
  switch (c.type) {
    case WireType::kInt4:
    case WireType::kInt8:
      PutIntValue(w, c.type, v.AsInt());
      break;
    case WireType::kFloat8:
      PutFloatValue(
          w, v.kind == Value::kReal ? v.real : static_cast<double>(v.AsInt()));
      break;
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
  if (type == WireType::kVarchar || type == WireType::kNVarchar) {
    w->U16(0xFFFF);
  } else {
    w->U8(0);
  }
}

void PutIntValue(ByteWriter* w, WireType type, int64_t value) {
  if (type == WireType::kInt4) {
    w->U8(4);
    w->U32(static_cast<uint32_t>(value));
  } else {
    w->U8(8);
    w->U64(static_cast<uint64_t>(value));
  }
}

void PutFloatValue(ByteWriter* w, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  w->U8(8);
  w->U64(bits);
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

void PutEnvChangeCollation(ByteWriter* w) {
  w->U8(0xE3);
  w->U16(1 + 1 + sizeof kCollation + 1);
  w->U8(7);
  w->U8(sizeof kCollation);
  w->Raw(kCollation, sizeof kCollation);
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
    w->U16(0x0001);  // nullable
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
