#include "raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace venuedb::testing {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kPacketSize = 4096;

void PutU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}

// ALL_HEADERS with one transaction descriptor header (no transaction).
std::string AllHeaders() {
  std::string out;
  PutU32(&out, 22);
  PutU32(&out, 18);
  PutU16(&out, 2);
  out.append(8, '\0');  // transaction descriptor
  PutU32(&out, 1);      // outstanding requests
  return out;
}

// LOGIN7 for TDS 7.4: the 94-byte fixed part, then host, user, an empty
// password and the application name.
std::string Login7(uint32_t tds_version) {
  const std::string host = Utf16("raw"), user = Utf16("sa"),
                    app = Utf16("raw-test");
  std::string fixed;
  PutU32(&fixed, 0);  // total length, set below
  PutU32(&fixed, tds_version);
  PutU32(&fixed, kPacketSize);
  PutU32(&fixed, 7);  // client program version
  PutU32(&fixed, static_cast<uint32_t>(getpid()));
  PutU32(&fixed, 0);            // connection id
  fixed += Hex("E0 03 00 00");  // option flags, type flags
  PutU32(&fixed, 0);            // time zone
  PutU32(&fixed, 0x0409);       // LCID
  uint16_t offset = 94;
  std::string data;
  auto field = [&](const std::string& utf16) {
    PutU16(&fixed, static_cast<uint16_t>(offset + data.size()));
    PutU16(&fixed, static_cast<uint16_t>(utf16.size() / 2));
    data += utf16;
  };
  field(host);
  field(user);
  field("");  // password
  field(app);
  for (int i = 0; i < 5; ++i) field("");  // server ... database
  fixed.append(6, '\0');                  // client id
  for (int i = 0; i < 3; ++i) field("");  // SSPI, attach file, new password
  PutU32(&fixed, 0);                      // long SSPI length
  std::string out = fixed + data;
  std::string length;
  PutU32(&length, static_cast<uint32_t>(out.size()));
  return out.replace(0, 4, length);
}

// A cursor over a reply; reads past the end set `bad` and yield zeros.
struct Cursor {
  const std::string& s;
  size_t at = 0;
  bool bad = false;
  bool Need(size_t n) {
    if (bad || s.size() - at < n) bad = true;
    return !bad;
  }
  uint64_t Le(size_t n) {
    if (!Need(n)) return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
      v |= static_cast<uint64_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
    }
    at += n;
    return v;
  }
  std::string Take(size_t n) {
    if (!Need(n)) return "";
    std::string out = s.substr(at, n);
    at += n;
    return out;
  }
  // A B_VARCHAR as ASCII (the low byte of each UTF-16 unit).
  std::string Name() {
    std::string utf16 = Take(Le(1) * 2);
    std::string out;
    for (size_t i = 0; i < utf16.size(); i += 2) out.push_back(utf16[i]);
    return out;
  }
};

struct Column {
  uint8_t type = 0;
  size_t size = 0;  // the declared length; a fixed type's value size
};

// The value size of a fixed-length type (INT1, BIT, INT2, INT4, FLT4, MONEY4,
// DATETIM4, INT8, FLT8, MONEY, DATETIME), else 0.
size_t FixedSize(uint8_t type) {
  switch (type) {
    case 0x30:
    case 0x32:
      return 1;
    case 0x34:
      return 2;
    case 0x38:
    case 0x3B:
    case 0x7A:
    case 0x3A:
      return 4;
    case 0x7F:
    case 0x3E:
    case 0x3C:
    case 0x3D:
      return 8;
    default:
      return 0;
  }
}

// Types whose value has a one-byte length: INTN, BITN, FLTN, DATETIMN,
// MONEYN, NUMERICN, DECIMALN.
bool OneByteLength(uint8_t type) {
  return type == 0x26 || type == 0x68 || type == 0x6D || type == 0x6F ||
         type == 0x6E || type == 0x6C || type == 0x6A;
}

constexpr size_t kPlp = 0xFFFF;  // a short text's maximum length for PLP

Column TypeInfo(Cursor* c) {
  Column col;
  col.type = static_cast<uint8_t>(c->Le(1));
  col.size = FixedSize(col.type);
  if (col.size != 0) return col;
  switch (col.type) {
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6F:
    case 0x6E:
      col.size = c->Le(1);
      break;
    case 0x6C:
    case 0x6A:  // length, precision, scale
      col.size = c->Le(1);
      c->Le(2);
      break;
    case 0x23:
    case 0x63:  // maximum length, collation, the table's name in parts
      c->Le(4);
      c->Take(5);
      for (size_t parts = c->Le(1); parts > 0 && !c->bad; --parts)
        c->Take(c->Le(2) * 2);
      break;
    case 0xA5:
    case 0xAD:
      c->Le(2);
      break;
    default:  // the text kinds: maximum length and collation
      col.size = c->Le(2);
      c->Take(5);
      break;
  }
  return col;
}

// "INT4", "INTN(4)", "BIGCHAR(10)", ...
std::string TypeName(const Column& col) {
  switch (col.type) {
    case 0x30:
      return "INT1";
    case 0x34:
      return "INT2";
    case 0x38:
      return "INT4";
    case 0x7F:
      return "INT8";
    case 0x3E:
      return "FLT8";
    case 0x26:
      return "INTN(" + std::to_string(col.size) + ")";
    case 0x6D:
      return "FLTN(" + std::to_string(col.size) + ")";
    case 0xA7:
      return "BIGVARCHAR(" + std::to_string(col.size) + ")";
    case 0xAF:
      return "BIGCHAR(" + std::to_string(col.size) + ")";
    case 0xE7:
      return "NVARCHAR(" + std::to_string(col.size) + ")";
    case 0xEF:
      return "NCHAR(" + std::to_string(col.size) + ")";
    case 0x32:
      return "BIT";
    case 0x68:
      return "BITN(1)";
    case 0x3B:
      return "FLT4";
    case 0x6C:
      return "NUMERICN(" + std::to_string(col.size) + ")";
    case 0x6A:
      return "DECIMALN(" + std::to_string(col.size) + ")";
    case 0x3C:
      return "MONEY";
    case 0x7A:
      return "MONEY4";
    case 0x6E:
      return "MONEYN(" + std::to_string(col.size) + ")";
    case 0x3D:
      return "DATETIME";
    case 0x3A:
      return "DATETIM4";
    case 0x6F:
      return "DATETIMN(" + std::to_string(col.size) + ")";
    case 0x23:
      return "TEXT";
    case 0x63:
      return "NTEXT";
    default:
      return "TYPE" + std::to_string(col.type);
  }
}

std::string ValueText(Cursor* c, const Column& col) {
  const size_t fixed = FixedSize(col.type);
  const bool one_byte_length = OneByteLength(col.type);
  std::string bytes;
  if (col.type == 0x23 || col.type == 0x63) {
    // A text pointer (none for NULL), a timestamp, a 4-byte length.
    const size_t pointer = c->Le(1);
    if (pointer == 0) return "NULL";
    c->Take(pointer + 8);
    bytes = c->Take(c->Le(4));
  } else if ((col.type == 0xA7 || col.type == 0xE7) && col.size == kPlp) {
    if (c->Le(8) == ~0ull) return "NULL";
    for (size_t chunk = c->Le(4); chunk > 0 && !c->bad; chunk = c->Le(4))
      bytes += c->Take(chunk);
  } else {
    const size_t length = fixed != 0 ? fixed : c->Le(one_byte_length ? 1 : 2);
    if (fixed == 0 && (one_byte_length ? length == 0 : length == 0xFFFF))
      return "NULL";
    bytes = c->Take(length);
  }
  const size_t length = bytes.size();
  if (col.type == 0x6C || col.type == 0x6A || col.type == 0x6E ||
      col.type == 0x6F || col.type == 0x3C || col.type == 0x7A ||
      col.type == 0x3D || col.type == 0x3A || col.type == 0x3B ||
      (col.type == 0x6D && length == 4)) {
    // numeric, money, datetime and real values as their bytes
    std::string out = "0x";
    char digits[3];
    for (unsigned char b : bytes) {
      std::snprintf(digits, sizeof digits, "%02X", b);
      out += digits;
    }
    return out;
  }
  if (col.type == 0x26 || col.type == 0x68 ||
      (fixed != 0 && col.type != 0x3E)) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
      v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
    }
    // tinyint (one byte) is unsigned; the others are signed.
    if (length > 1 && length < 8 && (v >> (8 * length - 1)) & 1)
      v |= ~0ull << (8 * length);
    return std::to_string(static_cast<int64_t>(v));
  }
  if ((col.type == 0x6D || col.type == 0x3E) && length == 8) {
    double d;
    std::memcpy(&d, bytes.data(), 8);
    char text[32];
    std::snprintf(text, sizeof text, "%g", d);
    return text;
  }
  if (col.type == 0xE7 || col.type == 0xEF || col.type == 0x63) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 2) out.push_back(bytes[i]);
    return out;
  }
  return bytes;
}

}  // namespace

std::string Hex(const std::string& hex) {
  std::string out, digits;
  for (char ch : hex) {
    if (ch == ' ') continue;
    digits.push_back(ch);
    if (digits.size() == 2) {
      out.push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return out;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char ch : ascii) {
    out.push_back(ch);
    out.push_back('\0');
  }
  return out;
}

std::string BatchPayloadBytes(const std::string& utf16) {
  return AllHeaders() + utf16;
}

std::string BatchPayload(const std::string& sql) {
  return BatchPayloadBytes(Utf16(sql));
}

std::string RpcPayload(const std::string& procedure,
                       const std::string& params) {
  std::string out = AllHeaders();
  PutU16(&out, static_cast<uint16_t>(procedure.size()));
  out += Utf16(procedure);
  PutU16(&out, 0);
  return out + params;
}

std::string RpcPayload(uint16_t proc_id, const std::string& params) {
  std::string out = AllHeaders();
  PutU16(&out, 0xFFFF);
  PutU16(&out, proc_id);
  PutU16(&out, 0);
  return out + params;
}

std::string RpcParam(const std::string& name, uint8_t status,
                     const std::string& type_and_value_hex) {
  std::string out(1, static_cast<char>(name.size()));
  out += Utf16(name);
  out.push_back(static_cast<char>(status));
  return out + Hex(type_and_value_hex);
}

std::string NVarcharParam(const std::string& name, const std::string& text) {
  std::string out = RpcParam(name, 0, "E7 401F 0408D00000");
  PutU16(&out, static_cast<uint16_t>(text.size() * 2));
  return out + Utf16(text);
}

std::string Packets(uint8_t type, const std::string& payload,
                    bool end_of_message) {
  std::string out;
  size_t at = 0;
  uint8_t packet_id = 1;
  do {
    size_t take = std::min(payload.size() - at, kPacketSize - kHeaderSize);
    bool last = at + take == payload.size();
    size_t length = take + kHeaderSize;
    out += {static_cast<char>(type),
            static_cast<char>(last && end_of_message ? 1 : 0),
            static_cast<char>(length >> 8),
            static_cast<char>(length & 0xFF),
            0,
            0,
            static_cast<char>(packet_id++),
            0};
    out += payload.substr(at, take);
    at += take;
  } while (at < payload.size());
  return out;
}

std::string PreloginPacket() {
  return Packets(0x12, Hex("00 0006 0006 FF 000000000000"));
}

RawClient::RawClient(int port, bool log_in, uint32_t tds_version) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address),
                         sizeof address) != 0) {
    return;
  }
  if (!log_in) return;
  if (!SendBytes(PreloginPacket()) || !Receive()) return;
  if (!Send(0x10, Login7(tds_version))) return;
  std::optional<std::string> reply = Receive();
  login_reply_ = reply.value_or("");
  logged_in_ =
      DescribeReply(login_reply_).find("LOGINACK") != std::string::npos;
}

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool RawClient::SendBytes(const std::string& bytes) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    ssize_t n =
        send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

bool RawClient::Send(uint8_t type, const std::string& payload) {
  return SendBytes(Packets(type, payload));
}

bool RawClient::WaitForReply(int ms) {
  pollfd pfd = {fd_, POLLIN, 0};
  return fd_ >= 0 && poll(&pfd, 1, ms) == 1;
}

bool RawClient::WaitForClose(int ms) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (fd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd pfd = {fd_, POLLIN, 0};
    if (left <= 0 || poll(&pfd, 1, static_cast<int>(left)) != 1) return false;
    char buffer[4096];
    if (recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
  }
  return true;
}

std::optional<std::string> RawClient::Receive() {
  auto read_exact = [this](char* data, size_t size) {
    while (size > 0) {
      pollfd pfd = {fd_, POLLIN, 0};
      if (fd_ < 0 || poll(&pfd, 1, 10000) != 1) return false;
      ssize_t n = recv(fd_, data, size, 0);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  };
  std::string message;
  for (;;) {
    char header[kHeaderSize];
    if (!read_exact(header, kHeaderSize)) return std::nullopt;
    size_t length = (static_cast<uint8_t>(header[2]) << 8) |
                    static_cast<uint8_t>(header[3]);
    if (length < kHeaderSize) return std::nullopt;
    size_t old = message.size();
    message.resize(old + length - kHeaderSize);
    if (!read_exact(&message[old], length - kHeaderSize)) return std::nullopt;
    if (header[1] & 0x01) return message;
  }
}

std::string DescribeReply(const std::string& reply, bool detailed) {
  Cursor c{reply};
  std::vector<Column> columns;
  std::vector<std::string> tokens;
  auto hex = [](uint64_t v, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits,
                  static_cast<unsigned long long>(v));
    return std::string(text);
  };
  while (c.at < reply.size() && !c.bad) {
    uint8_t token = static_cast<uint8_t>(c.Le(1));
    std::string line;
    switch (token) {
      case 0x81: {
        columns.clear();
        line = "COLS ";
        size_t count = c.Le(2);
        for (size_t i = 0; i < count && !c.bad; ++i) {
          c.Le(4);  // user type
          const bool nullable = c.Le(2) & 0x0001;
          columns.push_back(TypeInfo(&c));
          line += (i ? "," : "") + c.Name();
          if (detailed) {
            line += " " + TypeName(columns.back()) + (nullable ? "" : " NN");
          }
        }
        break;
      }
      case 0xD1:
        line = "ROW ";
        for (size_t i = 0; i < columns.size(); ++i) {
          line += (i ? "," : "") + ValueText(&c, columns[i]);
        }
        break;
      case 0xD2: {
        line = "NBCROW ";
        const std::string nulls = c.Take((columns.size() + 7) / 8);
        for (size_t i = 0; i < columns.size() && !c.bad; ++i) {
          const bool null = (nulls[i / 8] >> (i % 8)) & 1;
          line += (i ? "," : "") +
                  (null ? std::string("NULL") : ValueText(&c, columns[i]));
        }
        break;
      }
      case 0xFD:
      case 0xFE:
      case 0xFF: {
        line = token == 0xFD   ? "DONE "
               : token == 0xFE ? "DONEPROC "
                               : "DONEINPROC ";
        line += hex(c.Le(2), 4);
        c.Le(2);
        line += " " + std::to_string(c.Le(8));
        break;
      }
      case 0x79:
        line = "STATUS " + std::to_string(static_cast<int32_t>(c.Le(4)));
        break;
      case 0xAC: {
        uint64_t ordinal = c.Le(2);
        line = "RET " + std::to_string(ordinal) + " " + c.Name();
        c.Le(1 + 4 + 2);  // status, user type, flags
        Column col = TypeInfo(&c);
        line += " " + ValueText(&c, col);
        break;
      }
      case 0xAA:
      case 0xAB: {
        size_t length = c.Le(2);
        std::string body = c.Take(length);
        int32_t number = 0;
        if (body.size() >= 4) std::memcpy(&number, body.data(), 4);
        line = (token == 0xAA ? "ERROR " : "INFO ") + std::to_string(number);
        if (detailed && body.size() >= 8) {
          // state, class, then the message as US_VARCHAR
          const size_t chars = static_cast<uint8_t>(body[6]) |
                               (static_cast<uint8_t>(body[7]) << 8);
          line += " " + std::to_string(static_cast<uint8_t>(body[5])) + " ";
          for (size_t i = 0; i < chars && 8 + 2 * i < body.size(); ++i)
            line.push_back(body[8 + 2 * i]);
        }
        break;
      }
      case 0xE3: {
        size_t length = c.Le(2);
        std::string body = c.Take(length);
        line = "ENV " + std::to_string(body.empty() ? 0 : body[0]);
        break;
      }
      case 0xAD:
        c.Take(c.Le(2));
        line = "LOGINACK";
        break;
      default:
        tokens.push_back("? " + hex(token, 2));
        c.at = reply.size();
        continue;
    }
    if (!c.bad) tokens.push_back(line);
  }
  if (c.bad) tokens.push_back("? truncated");
  std::string out;
  for (size_t i = 0; i < tokens.size(); ++i) out += (i ? "; " : "") + tokens[i];
  return out;
}

}  // namespace venuedb::testing
