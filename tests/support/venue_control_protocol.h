// The messages between a Windows test's VenueServer and venue_control, the
// Linux program that runs venuedb for it (a Windows program under wine cannot
// start, signal or wait for a Linux process, nor open the database file with
// the Linux SQLite while venuedb has it).
//
// Over one loopback TCP connection per VenueServer, each request is answered
// by one reply; a message is a list of fields: the field count, then each
// field's length and bytes (lengths are 32-bit little-endian; a NULL field
// has length 0xFFFFFFFF).
//
//   request                      reply
//   new [SEED_ARG...]            FAILURES FOLDER DB_PATH PORT
//   start PORT                   FAILURES PORT
//   stop                         FAILURES STATUS
//   freeze                       FAILURES
//   exec SQL                     FAILURES
//   query SQL                    FAILURES COLUMNS CELL...   (row after row)
//
// FAILURES is the text of the test failures the operation raised on the Linux
// side (empty when none); the Windows side raises them again in the test.
// Closing the connection stops the server and removes its folder.
#ifndef RONDEL_TESTS_SUPPORT_VENUE_CONTROL_PROTOCOL_H_
#define RONDEL_TESTS_SUPPORT_VENUE_CONTROL_PROTOCOL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rondel {
namespace testing {
namespace venue_control {

using Field = std::optional<std::string>;
using Message = std::vector<Field>;

constexpr uint32_t kNullLength = 0xFFFFFFFFu;
// A field or message longer than this is a broken stream, not a message.
constexpr uint32_t kMaxLength = 256u << 20;

inline void PutLength(uint32_t value, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

inline std::string Encode(const Message& message) {
  std::string out;
  PutLength(static_cast<uint32_t>(message.size()), &out);
  for (const Field& field : message) {
    PutLength(field ? static_cast<uint32_t>(field->size()) : kNullLength, &out);
    if (field) out += *field;
  }
  return out;
}

// Reads one message with `read_exactly(buffer, size)`, which answers false
// when the stream ends or fails first. False for an ended or broken stream.
inline bool Decode(const std::function<bool(char*, size_t)>& read_exactly,
                   Message* message) {
  auto read_length = [&](uint32_t* value) {
    unsigned char bytes[4];
    if (!read_exactly(reinterpret_cast<char*>(bytes), sizeof bytes))
      return false;
    *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
             static_cast<uint32_t>(bytes[3]) << 24;
    return true;
  };
  message->clear();
  uint32_t count = 0;
  if (!read_length(&count) || count > kMaxLength / 4) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = 0;
    if (!read_length(&length)) return false;
    if (length == kNullLength) {
      message->push_back(std::nullopt);
      continue;
    }
    if (length > kMaxLength) return false;
    std::string bytes(length, '\0');
    if (length > 0 && !read_exactly(&bytes[0], length)) return false;
    message->push_back(std::move(bytes));
  }
  return true;
}

}  // namespace venue_control
}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_VENUE_CONTROL_PROTOCOL_H_
