#include "login.h"

#include <cstdio>

#include "charset.h"
#include "wire.h"

namespace venuedb {

namespace {

// Pre-login option tokens.
constexpr uint8_t kVersion = 0x00;
constexpr uint8_t kEncryption = 0x01;
constexpr uint8_t kInstOpt = 0x02;
constexpr uint8_t kThreadId = 0x03;
constexpr uint8_t kMars = 0x04;
constexpr uint8_t kTerminator = 0xFF;

// Password bytes are sent with their nibbles swapped, then XORed with 0xA5.
std::string DecodePassword(const std::string& utf16) {
  std::string plain;
  plain.reserve(utf16.size());
  for (char c : utf16) {
    uint8_t b = static_cast<uint8_t>(c) ^ 0xA5;
    plain.push_back(static_cast<char>(((b & 0x0F) << 4) | (b >> 4)));
  }
  return plain;
}

// Login texts travel as UTF-16; the journal and the logins table hold them as
// the server's GB18030 bytes, like every other text.
std::string ToServerText(Charset& charset, const std::string& utf16) {
  std::string out;
  charset.Utf16ToGb(utf16, &out);
  return out;
}

}  // namespace

std::string PreloginReply() {
  // Option table: five 5-byte entries and a terminator, then the data.
  const uint8_t options[] = {kVersion, kEncryption, kInstOpt, kThreadId, kMars};
  const uint16_t lengths[] = {6, 1, 1, 0, 1};
  ByteWriter w;
  uint16_t offset = sizeof options * 5 + 1;
  for (size_t i = 0; i < sizeof options; ++i) {
    w.U8(options[i]);
    w.U16Be(offset);
    w.U16Be(lengths[i]);
    offset = static_cast<uint16_t>(offset + lengths[i]);
  }
  w.U8(kTerminator);
  const uint8_t version[6] = {16, 0, 0x03, 0xE8, 0, 0};
  w.Raw(version, sizeof version);
  w.U8(0x02);  // encryption not supported
  w.U8(0x00);  // instance: matched
  w.U8(0x00);  // MARS off
  return w.bytes();
}

bool ParseLogin7(const std::string& payload, LoginRequest* login) {
  ByteReader r(payload);
  uint32_t length = r.U32();
  login->tds_version = r.U32();
  login->packet_size = r.U32();
  if (r.failed() || length > payload.size() || payload.size() < 86)
    return false;
  // LOGIN7's version field is little-endian; a byte-swapped 7.x value is
  // accepted as well.
  if ((login->tds_version & 0xFF) == 0x70 ||
      (login->tds_version & 0xFF) == 0x71 ||
      (login->tds_version & 0xFF) == 0x72 ||
      (login->tds_version & 0xFF) == 0x73 ||
      (login->tds_version & 0xFF) == 0x74) {
    uint32_t v = login->tds_version;
    login->tds_version =
        (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
  }
  // Offset/length pairs (lengths in UTF-16 units) start at byte 36.
  auto field = [&payload](size_t at, bool password) {
    ByteReader f(payload, at);
    uint16_t offset = f.U16();
    uint16_t units = f.U16();
    if (f.failed() ||
        static_cast<size_t>(offset) + units * 2u > payload.size()) {
      return std::string();
    }
    std::string raw = payload.substr(offset, units * 2u);
    return password ? DecodePassword(raw) : raw;
  };
  Charset charset;
  auto text = [&charset](const std::string& utf16) {
    return ToServerText(charset, utf16);
  };
  login->host = text(field(36, false));
  login->user = text(field(40, false));
  login->password = text(field(44, true));
  login->app = text(field(48, false));
  login->server = text(field(52, false));
  login->library = text(field(60, false));
  login->language = text(field(64, false));
  login->database_utf16 = field(68, false);
  login->database = text(login->database_utf16);
  return true;
}

std::string TdsVersionName(uint32_t version) {
  switch (version) {
    case 0x70000000:
      return "7.0";
    case 0x71000000:
    case 0x71000001:
      return "7.1";
    case 0x72090002:
      return "7.2";
    case 0x730A0003:
      return "7.3A";
    case 0x730B0003:
      return "7.3B";
    case 0x74000004:
      return "7.4";
  }
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%08X", version);
  return buffer;
}

}  // namespace venuedb
