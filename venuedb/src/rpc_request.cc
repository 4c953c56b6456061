#include "rpc_request.h"

#include <cstdio>
#include <cstring>

#include "wire.h"

namespace venuedb {

namespace {

// Days since 1900-01-01 and 1/300 s ticks to "YYYY-MM-DD HH:MM:SS.mmm".
std::string DateTimeText(int32_t days, uint32_t ticks) {
  // Civil-from-days on the 1970 epoch (Howard Hinnant's algorithm).
  int64_t z = static_cast<int64_t>(days) - 25567 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  uint64_t ms = (static_cast<uint64_t>(ticks) * 10 + 1) / 3;
  char buffer[160];
  std::snprintf(
      buffer, sizeof buffer, "%04lld-%02lld-%02lld %02llu:%02llu:%02llu.%03llu",
      static_cast<long long>(y), static_cast<long long>(m),
      static_cast<long long>(d), static_cast<unsigned long long>(ms / 3600000),
      static_cast<unsigned long long>(ms / 60000 % 60),
      static_cast<unsigned long long>(ms / 1000 % 60),
      static_cast<unsigned long long>(ms % 1000));
  return buffer;
}

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
  return is_null ? Value::Null() : Value::Int(SignedLe(bytes));
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
// until a zero one.
bool ReadPlp(ByteReader* r, std::string* out, bool* is_null) {
  uint64_t total = r->U64();
  *is_null = total == ~0ull;
  out->clear();
  if (*is_null) return !r->failed();
  for (;;) {
    uint32_t chunk = r->U32();
    if (r->failed()) return false;
    if (chunk == 0) break;
    out->append(r->Bytes(chunk));
    if (r->failed()) return false;
  }
  return true;
}

bool ReadParam(ByteReader* r, Charset* charset, RpcParam* p,
               std::string* error) {
  uint8_t name_units = r->U8();
  std::string name_utf16 = r->Bytes(name_units * 2u);
  charset->Utf16ToGb(name_utf16, &p->name);
  p->output = (r->U8() & 0x01) != 0;
  p->type_code = r->U8();
  std::string bytes;
  bool is_null = false;
  auto fixed = [&](size_t size) {
    p->max_length = static_cast<uint32_t>(size);
    bytes = r->Bytes(size);
  };
  auto byte_len = [&]() {
    p->max_length = r->U8();
    uint8_t len = r->U8();
    is_null = len == 0;
    bytes = r->Bytes(len);
  };
  switch (p->type_code) {
    case 0x30:  // INT1
    case 0x32:  // BIT
      fixed(1);
      p->kind = "int";
      p->value = Value::Int(static_cast<uint8_t>(bytes.empty() ? 0 : bytes[0]));
      p->return_type.type = WireType::kInt4;
      break;
    case 0x34:  // INT2
    case 0x38:  // INT4
    case 0x7F:  // INT8
      fixed(p->type_code == 0x34 ? 2 : p->type_code == 0x38 ? 4 : 8);
      p->kind = "int";
      p->value = IntValue(bytes, false);
      p->return_type.type =
          p->type_code == 0x7F ? WireType::kInt8 : WireType::kInt4;
      break;
    case 0x26:  // INTN
    case 0x68:  // BITN
      byte_len();
      p->kind = "int";
      p->value = IntValue(bytes, is_null);
      p->return_type.type =
          p->max_length == 8 ? WireType::kInt8 : WireType::kInt4;
      break;
    case 0x3B:  // FLT4
    case 0x3E:  // FLT8
      fixed(p->type_code == 0x3B ? 4 : 8);
      p->kind = "float";
      p->value = FloatValue(bytes, false);
      p->return_type.type = WireType::kFloat8;
      break;
    case 0x6D:  // FLTN
      byte_len();
      p->kind = "float";
      p->value = FloatValue(bytes, is_null);
      p->return_type.type = WireType::kFloat8;
      break;
    case 0x3D:  // DATETIME
    case 0x6F:  // DATETIMN
      if (p->type_code == 0x3D) {
        fixed(8);
      } else {
        byte_len();
      }
      p->kind = "datetime";
      if (is_null) {
        p->value = Value::Null();
      } else if (bytes.size() == 8) {
        p->value = Value::Text(
            DateTimeText(static_cast<int32_t>(SignedLe(bytes.substr(0, 4))),
                         static_cast<uint32_t>(SignedLe(bytes.substr(4)))));
      } else {
        p->value = Value::Text(
            DateTimeText(static_cast<uint16_t>(SignedLe(bytes.substr(0, 2))),
                         static_cast<uint32_t>(
                             static_cast<uint16_t>(SignedLe(bytes.substr(2)))) *
                             18000));
      }
      p->return_type.type = WireType::kVarchar;
      p->return_type.max_length = 30;
      break;
    case 0xA7:    // BIGVARCHAR
    case 0xAF:    // BIGCHAR
    case 0xE7:    // NVARCHAR
    case 0xEF:    // NCHAR
    case 0xA5:    // BIGVARBINARY
    case 0xAD: {  // BIGBINARY
      p->max_length = r->U16();
      bool binary = p->type_code == 0xA5 || p->type_code == 0xAD;
      if (!binary) r->Skip(5);  // collation
      if (p->max_length == 0xFFFF) {
        if (!ReadPlp(r, &bytes, &is_null)) break;
      } else {
        uint16_t len = r->U16();
        is_null = len == 0xFFFF;
        if (!is_null) bytes = r->Bytes(len);
      }
      bool wide = p->type_code == 0xE7 || p->type_code == 0xEF;
      p->kind = binary ? "binary" : "varchar";
      if (is_null) {
        p->value = Value::Null();
      } else if (wide) {
        std::string gb;
        charset->Utf16ToGb(bytes, &gb);
        p->value = Value::Text(gb);
      } else {
        p->value = Value::Text(bytes);
      }
      p->return_type.type = wide ? WireType::kNVarchar : WireType::kVarchar;
      p->return_type.max_length =
          p->max_length == 0xFFFF ? 8000 : static_cast<uint16_t>(p->max_length);
      break;
    }
    case 0x23:    // TEXT
    case 0x63: {  // NTEXT
      p->max_length = r->U32();
      r->Skip(5);
      uint32_t len = r->U32();
      is_null = len == 0xFFFFFFFF;
      if (!is_null) bytes = r->Bytes(len);
      p->kind = "varchar";
      if (is_null) {
        p->value = Value::Null();
      } else if (p->type_code == 0x63) {
        std::string gb;
        charset->Utf16ToGb(bytes, &gb);
        p->value = Value::Text(gb);
      } else {
        p->value = Value::Text(bytes);
      }
      p->return_type.type = WireType::kVarchar;
      p->return_type.max_length = 8000;
      break;
    }
    default: {
      char message[64];
      std::snprintf(message, sizeof message,
                    "unsupported parameter type 0x%02X", p->type_code);
      *error = message;
      return false;
    }
  }
  if (r->failed()) {
    *error = "truncated parameter " + p->name;
    return false;
  }
  return true;
}

}  // namespace

bool ParseRpc(const std::string& payload, bool tds72, Charset* charset,
              RpcRequest* request, std::string* error) {
  ByteReader r(payload);
  if (tds72) {
    uint32_t headers = r.U32();
    if (headers < 4 || headers > payload.size()) {
      *error = "bad ALL_HEADERS";
      return false;
    }
    r.Skip(headers - 4);
  }
  uint16_t name_units = r.U16();
  if (name_units == 0xFFFF) {
    request->proc_id = r.U16();
  } else {
    charset->Utf16ToGb(r.Bytes(name_units * 2u), &request->name);
  }
  r.U16();  // option flags
  if (r.failed()) {
    *error = "truncated RPC header";
    return false;
  }
  while (r.remaining() > 0) {
    uint8_t next = static_cast<uint8_t>(payload[r.pos()]);
    if (next == 0x80 || next == 0xFF)
      break;  // batch separator: further calls are ignored
    RpcParam p;
    if (!ReadParam(&r, charset, &p, error)) return false;
    request->params.push_back(std::move(p));
  }
  return true;
}

}  // namespace venuedb
