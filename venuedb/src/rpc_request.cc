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
    case 0x26:  // INTN
      return length == 1 || length == 2 || length == 4 || length == 8;
    case 0x68:  // BITN
      return length == 1;
    case 0x6D:  // FLTN
    case 0x6F:  // DATETIMN
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

// Reads one parameter. number is its 1-based position, for messages.
bool ReadParam(ByteReader* r, Charset* charset, size_t number, RpcParam* p,
               std::string* error) {
  uint8_t name_units = r->U8();
  std::string name_utf16 = r->Bytes(name_units * 2u);
  charset->Utf16ToGb(name_utf16, &p->name);
  uint8_t status = r->U8();
  p->output = (status & 0x01) != 0;
  p->use_default = (status & 0x02) != 0;
  p->type_code = r->U8();
  auto refuse = [&](const std::string& what) {
    char prefix[96];
    std::snprintf(prefix, sizeof prefix,
                  "parameter %zu (\"%s\"), type 0x%02X: ", number,
                  p->name.substr(0, 40).c_str(), p->type_code);
    *error = prefix + what;
    return false;
  };
  if (r->failed()) return refuse("truncated");
  if (status & 0x08) return refuse("encrypted values are not supported");
  std::string bytes;
  bool is_null = false;
  bool bad_length = false;
  auto fixed = [&](size_t size) {
    p->max_length = static_cast<uint32_t>(size);
    bytes = r->Bytes(size);
  };
  auto byte_len = [&]() {
    p->max_length = r->U8();
    uint8_t len = r->U8();
    is_null = len == 0;
    bad_length = !AllowedLength(p->type_code, p->max_length) ||
                 (!is_null &&
                  (!AllowedLength(p->type_code, len) || len > p->max_length));
    if (!bad_length) bytes = r->Bytes(len);
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
      if (is_null || bad_length) {
        p->value = Value::Null();
      } else if (bytes.size() == 8) {
        // Days since 1900-01-01, then 1/300 s ticks since midnight.
        p->value = Value::Text(
            DateTimeText(static_cast<int32_t>(SignedLe(bytes.substr(0, 4))),
                         static_cast<uint32_t>(SignedLe(bytes.substr(4, 4)))));
      } else if (bytes.size() == 4) {
        // Unsigned days since 1900-01-01, then minutes since midnight.
        uint16_t days = static_cast<uint16_t>(SignedLe(bytes.substr(0, 2)));
        uint16_t minutes = static_cast<uint16_t>(SignedLe(bytes.substr(2, 2)));
        p->value = Value::Text(DateTimeText(days, minutes * 18000u));
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
      bool wide = p->type_code == 0xE7 || p->type_code == 0xEF;
      bool plp = p->max_length == 0xFFFF;
      if (!binary) r->Skip(5);  // collation
      if (!plp && p->max_length > 8000) return refuse("maximum length > 8000");
      if (plp) {
        if (!ReadPlp(r, &bytes, &is_null)) {
          return refuse("chunks do not match the length");
        }
      } else {
        uint16_t len = r->U16();
        is_null = len == 0xFFFF;
        if (!is_null && len > p->max_length) {
          return refuse("value longer than its maximum length");
        }
        if (!is_null) bytes = r->Bytes(len);
      }
      if (wide && (bytes.size() % 2 != 0 || (!plp && p->max_length % 2 != 0))) {
        return refuse("odd length of a UTF-16 text");
      }
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
          plp ? 8000 : static_cast<uint16_t>(p->max_length);
      break;
    }
    case 0x23:    // TEXT
    case 0x63: {  // NTEXT
      p->max_length = r->U32();
      r->Skip(5);
      uint32_t len = r->U32();
      is_null = len == 0xFFFFFFFF;
      if (!is_null) bytes = r->Bytes(len);
      if (p->type_code == 0x63 && bytes.size() % 2 != 0) {
        return refuse("odd length of a UTF-16 text");
      }
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
    default:
      return refuse("not supported");
  }
  if (bad_length) return refuse("invalid data length or metadata length");
  if (r->failed()) return refuse("truncated");
  return true;
}

}  // namespace

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
